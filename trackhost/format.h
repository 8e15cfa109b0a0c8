// How the harness writes records down: one console line for people, or one
// JSON object with the stored integers for programs. Records arrive as the
// devices wrote them, in network order; the factor 100000 of positions
// (feet), angles (degrees) and valuators is taken out for people only.
#pragma once

#include "device/hostrecords.h"
#include "trackhost/tables.h"

#include <string>

namespace trackhost {

// Device, id, time stamp, position in feet and angles in degrees.
std::string formatRecord(const std::string& device, const TrackerRecord& record);
std::string jsonRecord(unsigned long cycle, const std::string& device, const TrackerRecord& record);
// Device, controller id, time stamp, buttons and valuators.
std::string formatController(const std::string& device, const ControllerRecord& record);
std::string jsonController(unsigned long cycle, const std::string& device, const ControllerRecord& record);
// Text for a JSON string: quotes, backslashes, control characters and bytes
// that are not UTF-8 escaped, so that every line stays valid JSON.
std::string jsonString(const std::string& text);

// The position and angles of a record as the device stored them, in feet and degrees.
void recordPose(const TrackerRecord& record, double (&pose)[6]);

} // namespace trackhost
