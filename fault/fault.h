// A failure as every layer above the stages hands it on: its kind, its place
// and its words. Words are made only on the failure path; a stage on the hot
// path returns a kind (or a narrow subset of the kinds) and no string.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fault/fault_kind.h"

namespace dls2mml {

// Which of a job's files a failure is about: the message names that path.
enum class FaultFile : std::uint8_t { input, output };

struct FaultPlace {
    FaultFile file = FaultFile::input;
    std::uint64_t line = 0;   // in a text, from 1; 0: not in a text
    std::uint64_t column = 0; // from 1
    std::optional<std::uint64_t> streamByte; // the tbr0 stream's byte where the fault stands
    bool atEnd = false;       // found only when the input ended
};

struct Fault {
    FaultKind kind = FaultKind::none;
    FaultPlace place;
    std::string words; // what a person is told: "cannot open: No such file or directory"
    bool ok() const noexcept { return kind == FaultKind::none; }
};

// The kind's own words, the head of every message about it: "cannot open",
// "too large", "input and output are the same file"; "ok" for none.
std::string_view faultWords(FaultKind kind) noexcept;

// A fault of kind whose words are the kind's, then ": detail" when there is one.
Fault makeFault(FaultKind kind, std::string_view detail = {}, FaultPlace place = {});

} // namespace dls2mml
