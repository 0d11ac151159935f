// One line per frame on standard output with what the recognisers worked from, for bug reports:
// comma-separated columns that a script or a spreadsheet reads, each line
// starting with "trace," so that the lines can be picked out of the log.
// The first line names the columns (docs/trace.md describes them).
#pragma once

#include "gesture/Decisions.h"

namespace gesture {

class TraceWriter : public DecisionSink {
  public:
    void frameDecided(const FrameDecisions& d, const GestureFeatures& f,
                      EventRouter& router) override;

    // The column names, "trace,frame,hands,...", without a line end.
    static const char* header();
    // Writes one frame's line (with its line end) into buffer; returns its
    // length, or 0 when the buffer is too small.
    static int format(char* buffer, int size, const FrameDecisions& d, const GestureFeatures& f);

  private:
    bool headerWritten_ = false;
};

}  // namespace gesture
