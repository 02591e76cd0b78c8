#pragma once
// The fixed key table of the enciphered text file.

constexpr int kCipherKeyTableLength = 1990;

// kCipherKeyTableLength printable characters (codes 32 to 126) and a terminating NUL.
extern const char kCipherKeyTable[kCipherKeyTableLength + 1];
