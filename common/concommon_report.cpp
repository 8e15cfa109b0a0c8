// The report of the controller options. Floats follow whatever format std::cout
// carries at the time, so a report printed after the tracker report shows them
// in that report's fixed notation.
#include "common/concommon.h"

#include "support/logger.h"

#include <cstdint>
#include <iostream>
#include <string>

namespace {

// 22 blanks and a colon: the label column of a continuation line.
const char* const kBlankLabel = "                      :";

// Integers always print as unsigned decimals, whatever base std::cout is set to.
std::string dec(std::uint32_t value)
{
    return std::to_string(value);
}

void leadIn(const CConCommonH& handler, std::uint32_t controller)
{
    handler.m_pLog->info(kBlankLabel, false);
    if (handler.m_nControllers != 1)
        std::cout << ' ' << dec(controller) << ':';
}

// a*X^3 + b*X^2 + c*X + d without its zero terms. A "+" goes in front of a
// positive term only while the coefficients before it do not sum to zero.
void printScale(const float (&coeff)[4])
{
    std::ostream& out = std::cout;
    float sum = coeff[0];
    if (coeff[0] != 0.0f)
        out << coeff[0] << "X^3";
    const char* const powers[3] = {"X^2", "X", ""};
    for (unsigned k = 1; k < 4; ++k) {
        if (coeff[k] == 0.0f)
            continue;
        if (sum != 0.0f && coeff[k] > 0.0f)
            out << '+';
        out << coeff[k] << powers[k - 1];
        sum += coeff[k];
    }
}

void printEmulation(const CConCommonH& handler, std::uint32_t controller, const TraEmulation& emu)
{
    std::ostream& out = std::cout;
    handler.m_pLog->info("TRACKER EMULATION     :", false);
    if (handler.m_nControllers != 1)
        out << ' ' << dec(controller) << "->";
    else
        out << " As ";
    out << "tracker[" << dec(emu.trackerId) << ']' << std::endl;

    leadIn(handler, controller);
    out << " Init Values:" << " X=" << emu.initValues[0] << " Y=" << emu.initValues[1] << " Z=" << emu.initValues[2]
        << std::endl;
    leadIn(handler, controller);
    out << " Init Values:" << " Azim=" << emu.initValues[3] << " Elev=" << emu.initValues[4]
        << " Roll=" << emu.initValues[5] << std::endl;

    static const char* const axes[6] = {"X", "Y", "Z", "Azim", "Elev", "Roll"};
    leadIn(handler, controller);
    out << " Val Assign :";
    for (unsigned axis = 0; axis < 6; ++axis) {
        if (emu.valuatorAssign[axis] != 0)
            out << ' ' << dec(emu.valuatorAssign[axis]) << "->" << axes[axis];
    }
    out << std::endl;

    if (emu.resetButton != 0) {
        leadIn(handler, controller);
        out << " Reset But  : " << dec(emu.resetButton) << std::endl;
    }
}

} // namespace

bool CConCommonH::printOptions()
{
    std::ostream& out = std::cout;
    const std::uint32_t count = m_pControllers ? m_nControllers : 0;

    m_pLog->info("CONTROLLER ORDER      : <Real con> -> <Output con>", true);
    m_pLog->info(kBlankLabel, false);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (m_pControllers[i].order != 0)
            out << ' ' << dec(i + 1) << "->" << dec(m_pControllers[i].order + m_nIdOffset);
    }
    out << std::endl;

    for (std::uint32_t b = 1; b <= count; ++b) {
        const ControllerEntry& entry = m_pControllers[b - 1];
        if (entry.order == 0)
            continue; // not output: nothing of it is shown, emulation included

        if (entry.numValuators != 0) {
            m_pLog->info("VALUATOR ORDER(SCALE) : <Real val> -> <Output val>", true);
            leadIn(*this, b);
            for (unsigned j = 0; j < ControllerEntry::kMaxItems; ++j) {
                if (entry.valuatorMap[j] == 0)
                    continue;
                out << ' ' << dec(j + 1) << "->" << dec(entry.valuatorMap[j]) << '(';
                printScale(entry.valuatorScale[j]);
                out << ')';
            }
            out << std::endl;
        }

        if (entry.numButtons != 0) {
            m_pLog->info("BUTTON ORDER          : <Real but> -> <Output but>", true);
            leadIn(*this, b);
            for (unsigned j = 0; j < ControllerEntry::kMaxItems; ++j) {
                if (entry.buttonMap[j] != 0)
                    out << ' ' << dec(j + 1) << "->" << dec(entry.buttonMap[j]);
            }
            out << std::endl;
        }

        if (entry.emulation)
            printEmulation(*this, b, *entry.emulation);
    }
    return true;
}
