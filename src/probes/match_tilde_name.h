#pragma once
// Whether a process path in the short 8.3 form (C:\PROGRA~1\APP.EXE) stands for a program text
// in the long form (C:\Program Files\App.exe), compared component by component.

#include <string_view>

class CPImage;

bool MatchTildeName(const CPImage& record, std::string_view program_name);
