// Functions that code outside the library calls directly.
//
// 32-bit Windows promises a called function only a 4-byte aligned stack, and
// a compiler that must assume no more realigns the stack in every function
// that keeps a 16-byte value there: in the row reader and the value routines
// that costs a register and a longer prologue on every call. The 32-bit
// Windows build therefore compiles the library for a 16-byte aligned stack
// (`-mincoming-stack-boundary=4`), which its own calls keep, and realigns it
// once where control comes in from outside: the exports, DllMain, the start
// of the library's thread and the processor check its start-up makes. Every
// such function is marked QUORVEL_REALIGNS_STACK, and never inlined into its
// caller, whose stack may be the misaligned one; anywhere else the mark does
// nothing. The rest of the start-up and shutdown code the compiler makes for
// static objects runs on the loader's stack unmarked: it only stores and
// frees, and a static object that does more must leave its work to a marked
// function.
#ifndef QUORVEL_COMMON_ENTRY_H
#define QUORVEL_COMMON_ENTRY_H

#if defined(_WIN32) && defined(__i386__) && defined(__GNUC__)
#define QUORVEL_REALIGNS_STACK __attribute__((force_align_arg_pointer, noinline))
#else
#define QUORVEL_REALIGNS_STACK
#endif

#endif  // QUORVEL_COMMON_ENTRY_H
