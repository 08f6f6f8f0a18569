// Message texts that end in a number: "gResult error @ Start: -108" and the
// like. The number goes through a standard text stream with default
// formatting.
#pragma once

#include <stdexcept>
#include <string>

// The one class with behaviour: raised when a number cannot be written as
// text. It never reaches the host; the entry point catches it.
class BadConversion : public std::runtime_error {
 public:
  explicit BadConversion(const std::string& what) : std::runtime_error(what) {}
};

// `prefix` followed by `value` written by a default-formatted text stream.
// Throws BadConversion("stringify(double)") if the stream fails.
std::string NumberMessage(const std::string& prefix, double value);
