#pragma once

// 1 in the 32-bit x86 build (the product), 0 in the x86-64 build that runs the same sources.
#if defined(_M_IX86) || defined(__i386__)
#define TIDEWELL_X86 1
#else
#define TIDEWELL_X86 0
#endif
