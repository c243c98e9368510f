// Test support: a process-wide setting changed for one test and given its
// value back when the test ends, however it ends.
#pragma once

template <class T> class ScopedValue {
  public:
    ScopedValue(T& setting, T value) : setting_(setting), saved_(setting) {
        setting_ = value;
    }
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;
    ~ScopedValue() {
        setting_ = saved_;
    }

  private:
    T& setting_;
    T saved_;
};
