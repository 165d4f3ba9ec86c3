#include "NameSetDiff.h"

#include <algorithm>

#include "ControlCharacters.h"

namespace panelhost {
namespace {

NameSetDiff::Line change(int line, int source, const std::string& oldText,
                         const std::string& newText) {
    NameSetDiff::Line result;
    result.line = line;
    result.source = source;
    result.oldText = oldText;
    result.newText = newText;
    result.status = oldText == newText ? NameSetDiff::Status::Unchanged
                    : oldText.empty()  ? NameSetDiff::Status::New
                                       : NameSetDiff::Status::Changed;
    return result;
}

}  // namespace

std::vector<NameSetDiff::Line> NameSetDiff::importPreview(const NameSetCsv::Report& report,
                                                          const std::vector<std::string>& current) {
    std::vector<Line> lines;
    for (const NameSetCsv::Row& row : report.rows) {
        const std::size_t at = static_cast<std::size_t>(row.source) - 1;
        lines.push_back(
            change(row.line, row.source, at < current.size() ? current[at] : "", row.name));
    }
    for (const NameSetCsv::Wrong& wrong : report.wrong) {
        Line line;
        line.line = wrong.line;
        line.status = Status::Wrong;
        line.reason = wrong.reason;
        line.text = wrong.text;
        lines.push_back(std::move(line));
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const Line& a, const Line& b) { return a.line < b.line; });
    return lines;
}

std::vector<NameSetDiff::Line> NameSetDiff::copyPreview(const std::vector<std::string>& source,
                                                        const std::vector<std::string>& target) {
    std::vector<Line> lines;
    for (std::size_t i = 0; i < source.size() && i < target.size(); ++i) {
        Line line = change(0, static_cast<int>(i) + 1, target[i], source[i]);
        if (const auto control = ControlCharacters::first(source[i])) {
            line.status = Status::Wrong;
            line.reason = ControlCharacters::refusal(
                "the name of source " + std::to_string(line.source), *control);
            line.text = source[i];
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<NameSetDiff::Line> NameSetDiff::writes(const std::vector<Line>& lines) {
    std::vector<Line> changed;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(changed), [](const Line& line) {
        return line.status == Status::New || line.status == Status::Changed;
    });
    return changed;
}

bool NameSetDiff::anyWrong(const std::vector<Line>& lines) {
    return std::any_of(lines.begin(), lines.end(),
                       [](const Line& line) { return line.status == Status::Wrong; });
}

std::string NameSetDiff::refusal(const std::vector<Line>& lines) {
    const auto wrong = std::count_if(lines.begin(), lines.end(),
                                     [](const Line& line) { return line.status == Status::Wrong; });
    const auto first = std::find_if(lines.begin(), lines.end(),
                                    [](const Line& line) { return line.status == Status::Wrong; });
    const std::string example =
        first == lines.end()
            ? std::string()
            : " (" + (first->line != 0 ? "line " + std::to_string(first->line) + ": " : "") +
                  first->reason + ")";
    return std::to_string(wrong) + (wrong == 1 ? " line is" : " lines are") + " wrong" + example +
           "; nothing was written";
}

const char* NameSetDiff::statusName(Status status) {
    switch (status) {
        case Status::New:
            return "new";
        case Status::Changed:
            return "changed";
        case Status::Unchanged:
            return "unchanged";
        case Status::Wrong:
            return "wrong";
    }
    return "wrong";
}

}  // namespace panelhost
