// What the editors' checks read from their controls, and what they answer when input is refused.
// Pure logic: no window code, so it is tested natively.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace editors {

inline constexpr const char* kErrorCaption = "错误";
inline constexpr const char* kWarningCaption = "警告";
// A focus id of 0 leaves the focus where it is.
inline constexpr int kFocusUnchanged = 0;

// The text of one control as GBK. exact is false when some character had no GBK counterpart
// (it then holds '?' in text and must not be stored).
struct TextInput {
    std::string text;
    bool exact = true;
};

// One refused input: the message (GBK) with its title, the control that gets the focus, and
// whether that edit's whole text is selected.
struct InputFault {
    std::string text;
    std::string caption = kErrorCaption;
    int focusId = kFocusUnchanged;
    bool select = false;

    bool operator==(const InputFault&) const = default;
};

// Either a composed value or the first fault found.
template <typename T>
class Checked {
  public:
    Checked(T value) : m_value(std::move(value)) {}
    Checked(InputFault fault) : m_fault(std::move(fault)) {}

    bool ok() const { return !m_fault.has_value(); }
    const T& value() const { return m_value; }
    const InputFault& fault() const { return *m_fault; }

  private:
    T m_value{};
    std::optional<InputFault> m_fault;
};

// The value of a number edit: its leading decimal digits, 0 when it starts with none. A run of
// digits too long for 32 bits reads as INT32_MAX, so it can never wrap into a small or negative
// number; every range check then refuses it, and where no range applies (keep_days, sizes) it
// stands for "as large as the field can hold".
int32_t ReadDecimal(std::string_view text);

// The edits whose every change is judged at once (a refused text is put back): the hours and
// minutes of both editors and the schedule panel's day of the month.
enum class GuardedField { Hour, Minute, Day };

// Hour 0-23 and minute 0-59 (empty counts as 0); day 1-31 (empty and 0 refused).
bool GuardAccepts(GuardedField field, std::string_view text);

// "%d" and "%02d" of a number.
std::string DecimalText(int value);
std::string TwoDigitText(int value);
// 1234567 -> "1,234,567".
std::string GroupedDecimal(uint64_t value);

}  // namespace editors
