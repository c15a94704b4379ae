#include "net/AddressText.h"

#include <cctype>
#include <string_view>
#include <vector>

namespace tandrel::net {
namespace {

std::string_view TrimSpaces(std::string_view Value) {
  while (!Value.empty() && Value.front() == ' ')
    Value.remove_prefix(1);
  while (!Value.empty() && Value.back() == ' ')
    Value.remove_suffix(1);
  return Value;
}

/// The text before the first Delimiter; Rest becomes the text after it (or
/// empty when there is none).
std::string_view Fetch(std::string_view& Rest, char Delimiter) {
  const auto Pos = Rest.find(Delimiter);
  std::string_view Part = Rest.substr(0, Pos);
  Rest = Pos == std::string_view::npos ? std::string_view() : Rest.substr(Pos + 1);
  return TrimSpaces(Part);
}

/// Value of a non-empty run of digits in Base, or -1 when it is not one or
/// exceeds Max.
long DigitsValue(std::string_view Value, int Base, long Max) {
  if (Value.empty())
    return -1;
  long Result = 0;
  for (const char C : Value) {
    const auto U = static_cast<unsigned char>(C);
    int Digit;
    if (std::isdigit(U))
      Digit = C - '0';
    else if (Base == 16 && std::isxdigit(U))
      Digit = std::tolower(U) - 'a' + 10;
    else
      return -1;
    Result = Result * Base + Digit;
    if (Result > Max)
      return -1;
  }
  return Result;
}

bool IsIPPart(std::string_view Value) { return DigitsValue(Value, 10, 255) >= 0; }
bool IsIP6Group(std::string_view Value) { return DigitsValue(Value, 16, 0xFFFF) >= 0; }

std::vector<std::string_view> SplitGroups(std::string_view Value) {
  std::vector<std::string_view> Groups;
  while (!Value.empty()) {
    const auto Pos = Value.find(':');
    Groups.push_back(Value.substr(0, Pos));
    if (Pos == std::string_view::npos)
      break;
    Value.remove_prefix(Pos + 1);
  }
  return Groups;
}

}  // namespace

bool IsIP(const std::string& Value) {
  std::string_view Rest = Value;
  for (int Part = 0; Part < 3; ++Part)
    if (!IsIPPart(Fetch(Rest, '.')))
      return false;
  return IsIPPart(TrimSpaces(Rest));
}

bool IsIP6(const std::string& Value) {
  if (Value == "::")
    return true;
  std::string_view Rest = Value;
  int Parts = 0;
  int ZeroRuns = 0;
  while (!Rest.empty()) {
    std::string_view Part = Fetch(Rest, ':');
    ++Parts;
    if (Parts > 8)
      return false;
    if (Part.empty()) {
      if (Parts > 1 && ++ZeroRuns > 1)
        return false;
      continue;
    }
    if (Rest.empty()) {
      // Only the last group may carry a zone.
      const auto Zone = Part.find('%');
      if (Zone != std::string_view::npos) {
        if (!IsIP6Group(Part.substr(Zone + 1)))
          return false;
        Part = Part.substr(0, Zone);
      }
    }
    if (!IsIP6Group(Part))
      return false;
  }
  return !(Parts == 1 && ZeroRuns == 0) && Parts > 0;
}

std::string IPToID(const std::string& Host) {
  std::string Result;
  std::string_view Rest = Host;
  for (int Part = 0; Part < 4; ++Part) {
    const long Value = DigitsValue(Fetch(Rest, '.'), 10, 255);
    Result.push_back(static_cast<char>(Value < 0 ? 0 : Value));
  }
  return Result;
}

std::string ExpandIP6(const std::string& Value) {
  std::string_view Text = Value;
  std::string_view Left = Text;
  std::string_view Right;
  const auto Gap = Text.find("::");
  if (Gap != std::string_view::npos) {
    Left = Text.substr(0, Gap);
    Right = Text.substr(Gap + 2);
  }
  std::vector<std::string_view> Groups = SplitGroups(Left);
  const std::vector<std::string_view> Tail = SplitGroups(Right);
  if (Gap != std::string_view::npos)
    for (auto Missing = Groups.size() + Tail.size(); Missing < 8; ++Missing)
      Groups.emplace_back("0");
  Groups.insert(Groups.end(), Tail.begin(), Tail.end());
  std::string Result;
  for (std::size_t N = 0; N < Groups.size(); ++N) {
    if (N > 0)
      Result += ':';
    Result += Groups[N].empty() ? std::string_view("0") : Groups[N];
  }
  return Result;
}

std::array<std::uint8_t, 16> StrToIp6(const std::string& Value) {
  std::array<std::uint8_t, 16> Result{};
  if (!IsIP6(Value))
    return Result;
  std::string Text = Value.substr(0, Value.find('%'));
  const std::string Expanded = ExpandIP6(Text);
  const std::vector<std::string_view> Groups = SplitGroups(Expanded);
  if (Groups.size() != 8)
    return Result;
  for (std::size_t N = 0; N < 8; ++N) {
    const long Group = DigitsValue(TrimSpaces(Groups[N]), 16, 0xFFFF);
    if (Group < 0)
      return {};
    Result[2 * N] = static_cast<std::uint8_t>(Group >> 8);
    Result[2 * N + 1] = static_cast<std::uint8_t>(Group & 0xFF);
  }
  return Result;
}

std::string Ip6ToStr(const std::array<std::uint8_t, 16>& Value) {
  std::array<unsigned, 8> Groups{};
  for (std::size_t N = 0; N < 8; ++N)
    Groups[N] = (unsigned{Value[2 * N]} << 8) | Value[2 * N + 1];
  // The longest run of two or more zero groups (the first of equal ones)
  // becomes "::".
  std::size_t BestStart = 8;
  std::size_t BestLength = 1;
  for (std::size_t Start = 0; Start < 8;) {
    std::size_t End = Start;
    while (End < 8 && Groups[End] == 0)
      ++End;
    if (End - Start > BestLength) {
      BestStart = Start;
      BestLength = End - Start;
    }
    Start = End == Start ? Start + 1 : End;
  }
  static constexpr char Hex[] = "0123456789abcdef";
  std::string Result;
  for (std::size_t N = 0; N < 8; ++N) {
    if (N == BestStart) {
      Result += "::";
      N += BestLength - 1;
      continue;
    }
    if (!Result.empty() && Result.back() != ':')
      Result += ':';
    std::string Group;
    for (unsigned G = Groups[N]; G != 0 || Group.empty(); G >>= 4)
      Group.insert(Group.begin(), Hex[G & 0xF]);
    Result += Group;
  }
  return Result;
}

}  // namespace tandrel::net
