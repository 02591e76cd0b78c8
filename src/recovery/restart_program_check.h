#pragma once
// The kinds of line the restart program "Sentinex.ini" knows, shared by the engine that loads
// it and the check that tells an administrator which lines it would pass over: a step of an
// unknown kind ("Stpo=typo") is skipped without a word when the program loads.

#include <string>
#include <string_view>
#include <vector>

namespace snx::recovery {

// The step kinds: each such line becomes one step of the program, in file order.
const std::vector<std::string_view>& RestartStepKinds();
// The engine settings that may stand anywhere in the program.
const std::vector<std::string_view>& RestartSettingKeys();
// True when `key` is one of `names` (trimmed, without case).
bool IsOneOf(std::string_view key, const std::vector<std::string_view>& names);

// One line per problem of the restart program at `path` (a path text as the engine builds it),
// each naming `shown` and the line: unknown kinds (with the nearest known one), "Detect"
// without a folder and file name, numbers that are not numbers. A program that cannot be read
// is one problem. Empty when it is sound.
std::vector<std::string> CheckRestartProgram(std::string_view path, std::string_view shown);

}  // namespace snx::recovery
