// What the two client classes share: argument reading, the interpreter-lock release around
// blocking work, the slot mutexes, and the outcome of work done without the lock.
#pragma once

#include <atomic>
#include <exception>
#include <expected>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "contract/refusal.hpp"
#include "python/py_ref.hpp"

namespace tavrel::python {

// Reads up to `names.size()` arguments given by position or keyword; every one is required.
// Returns false with TypeError set.
bool read_arguments(const char* function, std::span<const char* const> names, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> out);

// A str argument as UTF-8 text; false with TypeError (or the codec's error) set.
bool text_argument(PyObject* value, const char* function, const char* name, std::string_view& out);

// What work done without the interpreter lock can end in, besides success.
struct Failure {
    enum class Kind { Refused, Runtime };
    Kind kind = Kind::Runtime;
    contract::Refusal refusal{};
    std::string message;  // Runtime

    static Failure refused(contract::Refusal refusal) {
        return {Kind::Refused, std::move(refusal), {}};
    }
    static Failure runtime(std::string message) { return {Kind::Runtime, {}, std::move(message)}; }
};

template <class T>
using Outcome = std::expected<T, Failure>;

// Raises the failure (the lock must be held); always returns nullptr.
PyObject* raise_failure(const Failure& failure);

// Runs `work` with the interpreter lock released; exceptions escaping `work` become a
// RuntimeError outcome.
template <class T, class Work>
Outcome<T> without_gil(Work&& work) {
    Outcome<T> outcome = std::unexpected(Failure::runtime("internal error"));
    Py_BEGIN_ALLOW_THREADS;
    try {
        outcome = std::forward<Work>(work)();
    } catch (const std::exception& error) {
        outcome = std::unexpected(Failure::runtime(error.what()));
    } catch (...) {
        outcome = std::unexpected(Failure::runtime("unexpected failure"));
    }
    Py_END_ALLOW_THREADS;
    return outcome;
}

// A mutex that becomes unusable when work under it ends abnormally (an exception escaping while
// it is held), so later callers are refused instead of seeing half-changed state.
class SlotMutex {
  public:
    class Guard {
      public:
        explicit Guard(SlotMutex& owner)
            : owner_(owner), lock_(owner.mutex_), exceptions_(std::uncaught_exceptions()) {}
        ~Guard() {
            if (std::uncaught_exceptions() > exceptions_) owner_.unusable_.store(true);
        }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;
        bool usable() const { return !owner_.unusable_.load(); }

      private:
        SlotMutex& owner_;
        std::unique_lock<std::mutex> lock_;
        int exceptions_;
    };

  private:
    std::mutex mutex_;
    std::atomic<bool> unusable_{false};
};

// Python-visible texts of the monitor protocol.
inline constexpr std::string_view kMonitorAlreadyStarted = "monitor already started";
inline constexpr std::string_view kMonitorNotStarted = "monitor not started";
inline constexpr std::string_view kMonitorBusy = "monitor busy: another monitor_next is pending";
inline constexpr std::string_view kMonitorEnded = "monitor stream ended";
inline constexpr std::string_view kMonitorTimeout = "monitor timeout: no telegram received";

// A timeout_ms argument: int in 0..2^64-1. False with TypeError or OverflowError set.
bool timeout_argument(PyObject* value, const char* function, unsigned long long& out);

// Builds a heap type from `spec`, sets its __module__ to "_tavrel", adds it to the module and
// hands it to `out` (a strong reference).
int add_client_type(PyObject* module, PyType_Spec* spec, const char* name, PyTypeObject*& out);

}  // namespace tavrel::python
