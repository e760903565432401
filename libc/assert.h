// assert for code built on the C library subset. Like the standard header it
// may be included again and redefines the macro each time; NDEBUG turns the
// checks off.
#undef assert

namespace libc {
// Prints "Assertion failed: (...), file ..., function ..., line ...." on
// standard output (without the function part when Function is null) and
// ends the run abnormally.
[[noreturn]] void AssertFailed(const char *Condition, const char *File, const char *Function,
                               int Line);
}  // namespace libc

#ifdef NDEBUG
#define assert(condition) ((void)0)
#else
#define assert(condition) \
  ((condition) ? (void)0 : ::libc::AssertFailed(#condition, __FILE__, __func__, __LINE__))
#endif
