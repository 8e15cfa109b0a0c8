// The report of CTraCommonH: each line starts with a 23-character label from
// the logger's info routine; the values follow directly on standard output.
#include "common/tracommon.h"

#include "support/logger.h"

#include <iomanip>
#include <iostream>

namespace {

const char* const kBlankLabel = "                      :";

// Rows 0..2, columns 0..2 of a matrix, one row per line, then an empty line.
// The first row carries the label, the others the blank label; tracker
// blocks put " <id>" after the label.
void printMatrix(const CLogger& log, const char* label, const float m[16], unsigned trackerId)
{
    std::ostream& out = std::cout;
    for (unsigned r = 0; r < 3; ++r) {
        log.info(r == 0 ? label : kBlankLabel, false);
        if (trackerId)
            out << " " << trackerId;
        for (unsigned c = 0; c < 3; ++c) {
            // fixed and precision stay set on the stream; the width is for one value.
            out << " [" << r << "][" << c << "]:" << std::fixed << std::setprecision(3) << std::setw(6)
                << m[4 * r + c];
        }
        out << std::endl;
    }
    out << std::endl;
}

// Offsets use whatever number format the stream has at the time.
void printOffset(const float m[16])
{
    std::cout << " X:" << m[3] << " Y:" << m[7] << " Z:" << m[11] << std::endl;
}

} // namespace

bool CTraCommonH::printOptions(bool showCaveCoord)
{
    const CLogger& log = *m_pLog;
    std::ostream& out = std::cout;

    if (showCaveCoord)
        log.info(m_bCaveCoord ? "CAVE COORDINATES      : Used" : "CAVE COORDINATES      : Unused", true);

    if (m_bTransOffset) {
        log.info("TRANSMITTER OFFSET    :", false);
        printOffset(m_fTransOffset);
    }
    if (m_bTransRot)
        printMatrix(log, "TRANSMITTER ROTATION  :", m_fTransRot, 0);
    if (m_bTransOffset || m_bTransRot)
        printMatrix(log, "TRANSMITTER TRANSFORM :", m_fTransXform, 0);

    log.info("TRACKER ORDER         : <Real tra> -> <Output tra>", true);
    log.info(kBlankLabel, false);
    for (unsigned n = 1; n <= m_nTrackers; ++n) {
        const TrackerEntry& e = m_pTrackers[n - 1];
        if (e.order != 0)
            out << " " << n << "->" << e.order + m_nIdOffset;
    }
    out << std::endl;

    for (unsigned n = 1; n <= m_nTrackers; ++n) {
        const TrackerEntry& e = m_pTrackers[n - 1];
        if (e.order == 0)
            continue;
        if (e.hasOffset) {
            log.info("SENSOR OFFSET         :", false);
            out << " " << n;
            printOffset(e.offset);
        }
        if (e.hasRotation)
            printMatrix(log, "SENSOR ROTATION       :", e.rotation, n);
        if (e.hasOffset || e.hasRotation)
            printMatrix(log, "SENSOR TRANSFORM      :", e.transform, n);
    }

    if (m_pCalib) {
        log.info("CALIBRATION LIBRARY   :", false);
        out << " name:" << m_szCalibLib << std::endl;
        for (unsigned j = 0; j < m_nCalibArgs; ++j) {
            log.info(kBlankLabel, false);
            out << " arg[" << j << "]:" << m_pszCalibArgs[j] << std::endl;
        }
    }
    return true;
}
