#pragma once
// Reading a mail server's replies out of the bytes received so far. A reply is one or more
// lines; every line but the last has a "-" after its three-digit code ("250-first"), so the
// reply is whole once a line that is not such a continuation line has come with its line end.
// Bytes after a whole reply belong to the next one and stay where they are.

#include <string>
#include <string_view>
#include <vector>

namespace snx::alerts {

// A line that says more lines of the same reply follow: three digits and "-".
bool IsContinuationLine(std::string_view line);

// True when the line begins with the reply code `code` ("250"), and the code is not the start
// of a longer number.
bool HasReplyCode(std::string_view line, std::string_view code);

// Takes one whole reply off the front of `pending` into `lines` (each without its CR LF or LF)
// and returns true; false, with both left alone, while the reply's last line has not come.
bool TakeReply(std::string& pending, std::vector<std::string>& lines);

// Takes everything in `pending` as lines, the last one without a line end if it has none (what
// is left when the connection ended or the size bound was reached).
void TakeAllLines(std::string& pending, std::vector<std::string>& lines);

}  // namespace snx::alerts
