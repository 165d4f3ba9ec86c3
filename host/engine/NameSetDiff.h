#pragma once

#include <string>
#include <vector>

#include "NameSetCsv.h"

namespace panelhost {

// What a bulk change would do to a name set, line by line, before anything
// is written: the import preview, the copy preview and the side-by-side
// comparison all read from it. Pure functions; any thread.
class NameSetDiff {
  public:
    enum class Status { New, Changed, Unchanged, Wrong };

    // One line of a preview. `source` is 0 for a wrong line whose source
    // could not be read; `line` is 0 where no file is involved.
    struct Line {
        int line = 0;
        int source = 0;
        Status status = Status::Unchanged;
        std::string oldText;
        std::string newText;
        // Why a wrong line cannot be taken; its text as the file has it.
        std::string reason;
        std::string text;
    };

    // The import of `report` into a set whose names are `current` (source
    // i + 1 at position i): every line of the file in file order, a source
    // whose name is empty now counted as new.
    static std::vector<Line> importPreview(const NameSetCsv::Report& report,
                                           const std::vector<std::string>& current);
    // Setting every source of `target` to its name in `source` (both of the
    // same length): one line per source, wrong where the source's name holds
    // a control character (a data file from before they were refused), which
    // no write takes.
    static std::vector<Line> copyPreview(const std::vector<std::string>& source,
                                         const std::vector<std::string>& target);
    // The lines that would write something.
    static std::vector<Line> writes(const std::vector<Line>& lines);
    static bool anyWrong(const std::vector<Line>& lines);
    // Why nothing of `lines` is written: how many are wrong and the first
    // one's reason, "2 lines are wrong (line 3: ...); nothing was written".
    static std::string refusal(const std::vector<Line>& lines);

    static const char* statusName(Status status);
};

}  // namespace panelhost
