// Trace lines of the protocol code. They go nowhere unless a program sets a
// sink; the client passes its own trace channel's sink on.
#pragma once

#include <string>

using ProtocolTraceSink = void (*)(const std::string& line);
// Sets where trace lines go; nullptr (the default) discards them. Set it once
// at start, before other threads trace.
void SetProtocolTraceSink(ProtocolTraceSink sink);
// Hands line to the sink, if any.
void ProtocolTrace(const std::string& line);
