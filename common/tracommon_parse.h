// Internals shared by the option handlers of CTraCommonH: the view of one
// option line, the refusal report and the argument conversions. Only the
// tracommon*.cpp files include this header.
#pragma once

#include "common/tracommon.h"
#include "device/hostrecords.h"

#include <cstdint>

namespace tracommon {

// What a keyword handler did with its line.
enum Outcome {
    kPassed,   // nothing stored, line left unconsumed, no message
    kAccepted, // values stored; the loop marks the line consumed
    kRefused   // error line written; the loop sets the failure flag
};

// Kind texts of the error line.
extern const char* const kIncomplete;
extern const char* const kTooMany;
extern const char* const kInvalidArg;
extern const char* const kInvalidString;
extern const char* const kInvalidUnit;
extern const char* const kInvalidTrackerId;

// One option line as a handler sees it.
struct Line {
    const ConfigOption* option;
    unsigned count;    // argument count, bounded to the slots a line has
    const char* label; // e.g. "SensorOffset at line "
    bool gated;        // an earlier line was refused: check, but store nothing

    // Argument i (0-based); a missing string reads as empty text.
    const char* arg(unsigned i) const;
};

typedef Outcome (*Handler)(CTraCommonH& handler, const Line& line);

// Writes the error line of the given kind for the line and returns kRefused.
Outcome refuse(const CTraCommonH& handler, const char* kind, const Line& line);

// Converts argument i to a tracker ID (automatic base) and refuses it when it
// is 0 or above the table size; false after a refusal.
bool trackerId(const CTraCommonH& handler, const Line& line, unsigned i, unsigned& id);

// Converts count arguments from index first on; the first one that is refused
// (value 0 from text starting with a letter, or not a finite float) ends the
// conversion with false.
bool numbers(const CTraCommonH& handler, const Line& line, unsigned first, unsigned count, float* values);

// Multiplies three lengths by a unit factor; refused as invalid arg when one
// of them leaves the float range (3e38 meters are no length in feet).
bool scaleLengths(const CTraCommonH& handler, const Line& line, float factor, float* values);

// Rotation rows 0..2 with row 3 = (offset x, offset y, offset z, 1), and its
// prepared form.
void rebuildTransform(float transform[16], PreparedTransform& prepared, const float rotation[16],
                      const float offset[16]);

// The seven transform keywords.
Outcome transmitterOffset(CTraCommonH& handler, const Line& line);
Outcome transmitterRotation(CTraCommonH& handler, const Line& line);
Outcome transmitterRotationMatrix(CTraCommonH& handler, const Line& line);
Outcome sensorOffset(CTraCommonH& handler, const Line& line);
Outcome sensorTranslation(CTraCommonH& handler, const Line& line);
Outcome sensorRotation(CTraCommonH& handler, const Line& line);
Outcome sensorRotationMatrix(CTraCommonH& handler, const Line& line);

} // namespace tracommon
