// What the harness keeps per sensor over a run: one entry per device and id,
// walked in the order the sensors were first seen, and samples thinned so
// that a long run stays small.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace trackhost {

template <typename T> class BySensor {
public:
    using Key = std::pair<std::string, unsigned>;

    // The sensor's entry, made on first sight.
    T& at(const std::string& device, unsigned id)
    {
        const Key key(device, id);
        auto it = m_items.find(key);
        if (it == m_items.end()) {
            it = m_items.emplace(key, T()).first;
            m_order.push_back(key);
        }
        return it->second;
    }
    const T& at(const Key& key) const { return m_items.at(key); }
    const std::vector<Key>& order() const { return m_order; }

private:
    std::vector<Key> m_order;
    std::map<Key, T> m_items;
};

// Every stride-th value offered; when Limit are held, every other one goes
// and the stride doubles, so the values stay an even sample of the run.
template <typename T, std::size_t Limit> class Thinned {
public:
    void offer(const T& value)
    {
        if (m_offered++ % m_stride != 0)
            return;
        m_values.push_back(value);
        if (m_values.size() >= Limit) {
            std::size_t k = 0;
            for (std::size_t i = 0; i < m_values.size(); i += 2)
                m_values[k++] = m_values[i];
            m_values.resize(k);
            m_stride *= 2;
        }
    }
    const std::vector<T>& values() const { return m_values; }

private:
    std::vector<T> m_values;
    unsigned long m_stride = 1;
    unsigned long m_offered = 0;
};

} // namespace trackhost
