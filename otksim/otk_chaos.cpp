// The chaos schedule of the simulated tracker: every timed fault, drawn with
// its timing from one seed. The same seed gives the same schedule on every
// platform: whole numbers only, from a generator of our own.
#include "otksim/otk_internal.h"

namespace otkint {

namespace {
enum Kind { KDrop, KFreeze, KGarble, KPlug, KSpike, KNan, KPad, KCount };
} // namespace

void ChaosSchedule::begin(std::uint64_t seed, std::uint32_t stations, int maxSensors)
{
    m_on = true;
    m_state = seed * 0x2545F4914F6CDD1Dull + 0x632BE59BD9B4E019ull;
    m_stations = stations;
    m_maxSensors = maxSensors < 1 ? 1 : maxSensors > 32 ? 32 : maxSensors;
    // A quiet start, so that the device gets going first.
    m_at = between(2000, 20000);
    for (unsigned long long& free : m_free)
        free = 0;
}

std::uint64_t ChaosSchedule::next()
{
    // splitmix64
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

unsigned long long ChaosSchedule::between(unsigned long long low, unsigned long long high)
{
    return low + next() % (high - low + 1);
}

unsigned long long ChaosSchedule::octaves(unsigned long long low, unsigned long long high)
{
    unsigned count = 1;
    while ((low << count) < high)
        ++count;
    const unsigned long long from = low << (next() % count);
    const unsigned long long to = from * 2 < high ? from * 2 : high;
    return between(from, to);
}

void ChaosSchedule::extend(TimedFaults& faults, unsigned long long untilMs)
{
    std::vector<Span>* lists[KCount] = {&faults.drops,  &faults.freezes, &faults.garbles, &faults.plugs,
                                        &faults.spikes, &faults.nans,    &faults.pads};
    while (m_at < untilMs) {
        const int kind = static_cast<int>(next() % KCount);
        unsigned long long length = 0;
        std::uint32_t value = 1;
        switch (kind) {
        case KDrop:
            length = octaves(200, 20000);
            break;
        case KFreeze:
            length = octaves(50, 8000);
            break;
        case KGarble:
            length = octaves(20, 6000);
            break;
        case KPlug:
            // One sensor more or one fewer than at power-on.
            length = octaves(500, 60000);
            value = m_stations ^ (1u << between(0, static_cast<unsigned long long>(m_maxSensors - 1)));
            break;
        case KSpike:
            length = octaves(1000, 30000);
            value = static_cast<std::uint32_t>(octaves(5, 400));
            break;
        case KNan: {
            length = octaves(50, 5000);
            unsigned count = 0;
            for (std::uint32_t m = m_stations; m; m &= m - 1)
                ++count;
            value = 0;
            if (count) {
                std::uint32_t m = m_stations;
                for (unsigned long long k = next() % count; k; --k)
                    m &= m - 1;
                value = m & (~m + 1);
            }
            break;
        }
        default:
            // Less than a record is padding, a record or more a broken frame.
            length = octaves(50, 5000);
            value = static_cast<std::uint32_t>(between(1, 64));
            break;
        }
        // Faults of one kind follow each other; those of different kinds mix.
        const unsigned long long from = m_at > m_free[kind] ? m_at : m_free[kind];
        lists[kind]->push_back(Span{from, from + length, value});
        m_free[kind] = from + length;
        m_at += octaves(200, 40000);
    }
}

} // namespace otkint
