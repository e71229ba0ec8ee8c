// A small tally of named checks: a failed one is printed at once, the
// summary ends the run with "N passed, M failed". Checks may come from
// several threads.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace kestrova::wine_check {

class Checks {
public:
    explicit Checks(std::string label) : label_(std::move(label)) {}

    bool expect(bool ok, const std::string& what) {
        std::lock_guard<std::mutex> guard(lock_);
        if (ok) {
            ++passed_;
        } else {
            ++failed_;
            std::printf("%s: FAILED: %s\n", label_.c_str(), what.c_str());
            std::fflush(stdout);
        }
        return ok;
    }
    template <typename A, typename B>
    bool equal(const A& actual, const B& expected, const std::string& what) {
        const bool ok = actual == expected;
        return expect(ok, ok ? what : what + " (got " + shown(actual) + ", expected " + shown(expected) + ")");
    }

    int failed() const { return failed_; }
    void summary() const { std::printf("%s: %d passed, %d failed\n", label_.c_str(), passed_, failed_); }

private:
    static std::string shown(const std::string& text) { return "\"" + text + "\""; }
    static std::string shown(const char* text) { return shown(std::string(text)); }
    template <typename T>
    static std::string shown(const T& value) {
        return std::to_string(value);
    }

    std::string label_;
    std::mutex lock_;
    int passed_ = 0;
    int failed_ = 0;
};

}  // namespace kestrova::wine_check
