#pragma once
// What vesktarvelo-cli puts on the wire and how it reads the answers: the
// request frame from the options, the engine's link settings, and the
// engine's events turned into TransactionRecords with the modbus layer's
// checks and decoders. No toolkit: main.cpp runs it on the Qt adapters.
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/record.h"
#include "common/bytes.h"
#include "engine/session.h"

namespace cli {

// Why the options cannot be run yet (a function code or link mode this build
// does not speak), as one "vesktarvelo-cli: ..." line; nothing when they can.
std::optional<std::string> UnsupportedReason(const CliOptions& options);

// The engine's settings for the link the options describe.
engine::LinkSettings LinkSettingsOf(const CliOptions& options);

// The request frame for the options, numbered `transactionId` where the mode
// carries one: the bytes of --raw as typed, or the request built from the
// function, address, quantity and values.
Frame RequestFrame(const CliOptions& options, int transactionId);

// The values of an answer without faults or exception: bits as 0/1 for
// 01/02, register values in the chosen type for 03/04 and the read block of
// 23, the written value echoed for 05/06; labelled values for 07 (the status
// byte), 08 (the echoed data words), 17 (server id, run indicator, further
// data) and 43/14 (one per object, "ID Name: text"); none for 15, 16 and 22.
std::vector<RecordValue> AnswerValues(const CliOptions& options, const Frame& answer);

// The object a Read Device Identification chain asks for next when the
// answer says more follows (stream read codes 1 to 3 only); nothing when the
// chain is complete or the server's next id does not move on.
std::optional<uint8_t> NextDeviceObject(const CliOptions& options, const Frame& answer);

// Function 6 writes a value of two registers (a 32-bit value, or ASCII of
// three or four characters) as two requests, one a register: the options of
// the second request, the next address and the second register, when
// `options` ask for two; nothing when they ask for one.
std::optional<CliOptions> SecondWriteRequest(const CliOptions& options);

// The record of an answer the session completed (AnswerComplete).
TransactionRecord RecordOfAnswer(const CliOptions& options, const engine::Event& event);

}  // namespace cli
