// Lighter stand-ins for four parts of the static C++ runtime that the program
// links but has no use for, which made up about two thirds of the exe:
// - the verbose terminate handler, which brings the demangler and a printf to
//   describe an escaping exception on a console a GUI program does not have,
//   and then aborts;
// - the std::__throw_* helpers the library's containers and strings call,
//   which build std::logic_error and friends and so bring the old
//   copy-on-write string, and with it much of the rest of the library.
// - the record of the exceptions being handled, one per thread, which brings
//   the emulated thread-local storage: the program throws and catches on its
//   main thread only (the registration worker's other thread, which waits
//   for the run to end, runs no code that throws), so one record serves;
// - for the same reason, the locks that guard the runtime's emergency store
//   for exceptions thrown when memory runs out, which bring its threads code.
// Every catch in the program is catch (...), so what is thrown does not
// matter, only that something is: the helpers throw std::bad_alloc for a
// failed allocation, as the library would, and a small type of their own for
// the rest. Defining every helper of the library's one object that holds them
// keeps that object out of the link; were it ever pulled in, the duplicate
// definitions would fail the link rather than pass silently.
// Part of the exe only: the test programs keep the full runtime, whose
// messages they print.
#include <bits/functexcept.h>
#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <new>

namespace {

struct LibraryError {};

}  // namespace

namespace __gnu_cxx {

// An exception that escapes is a bug (wWinMain catches what a run throws);
// end at once, as std::terminate means, with the exit code of a failed run.
// Not abort(): msvcrt's shows a "Runtime Error" box, which nobody may be
// there to dismiss, and ends with 3, which no caller expects. The log needs
// no flush: each of its writes is on the disk already.
void __verbose_terminate_handler() { std::_Exit(1); }

}  // namespace __gnu_cxx

namespace std {

void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_exception() { throw LibraryError(); }
void __throw_bad_cast() { throw LibraryError(); }
void __throw_bad_typeid() { throw LibraryError(); }
void __throw_logic_error(const char*) { throw LibraryError(); }
void __throw_domain_error(const char*) { throw LibraryError(); }
void __throw_invalid_argument(const char*) { throw LibraryError(); }
void __throw_length_error(const char*) { throw LibraryError(); }
void __throw_out_of_range(const char*) { throw LibraryError(); }
void __throw_out_of_range_fmt(const char*, ...) { throw LibraryError(); }
void __throw_runtime_error(const char*) { throw LibraryError(); }
void __throw_range_error(const char*) { throw LibraryError(); }
void __throw_overflow_error(const char*) { throw LibraryError(); }
void __throw_underflow_error(const char*) { throw LibraryError(); }
void __throw_bad_function_call() { throw LibraryError(); }

}  // namespace std

namespace __cxxabiv1 {

// As the runtime lays the record out: the exceptions caught and not yet
// finished, and how many are thrown and not yet caught.
struct __cxa_eh_globals {
    void* caughtExceptions;
    unsigned int uncaughtExceptions;
};

extern "C" __cxa_eh_globals* __cxa_get_globals() noexcept {
    static __cxa_eh_globals globals;
    return &globals;
}

extern "C" __cxa_eh_globals* __cxa_get_globals_fast() noexcept { return __cxa_get_globals(); }

}  // namespace __cxxabiv1

// The runtime's emergency store for exceptions locks and unlocks these; on
// one thread there is nothing to guard.
extern "C" {
void __gthr_win32_mutex_init_function(void*) {}
int __gthr_win32_mutex_lock(void*) { return 0; }
int __gthr_win32_mutex_unlock(void*) { return 0; }
void __gthr_win32_mutex_destroy(void*) {}
}
