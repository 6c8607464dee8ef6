// The extensions of the service link this client takes, and what each
// service it talked to said it does. A service that sets no bits is
// today's service, and is treated exactly as such.
#pragma once

#include <cstdint>
#include <string>

#include "kernel/link_settings.h"
#include "kernel/options.h"

// The bits this client announces in every request header: it passes WebP
// and AVIF images through as it passes JPEG ones (kind 4), decodes the zstd text
// kinds, keeps pages of the sites it visits and keeps service connections
// for several exchanges.
std::uint16_t ClientCapabilities();

// The name the service of these settings is remembered under: the
// ServiceHost option, or else the build's host and port.
std::string ServiceKey(const Program_Options& po, const ServiceLinkSettings& link);

// Notes the bits of an answer header from the service named key; the last
// answer counts. Holds at most nb::kMaxRememberedServices names (the oldest
// is forgotten). Safe from every worker.
void NoteServiceCapabilities(const std::string& key, std::uint16_t caps);

// The bits the service named key set in its last answer header; 0 for a
// service not heard from yet.
std::uint16_t ServiceCapabilities(const std::string& key);

// True when the service recodes files of the extension sExt (jpg, jpeg ...)
// while images are recompressed: JPEG always, PNG and GIF when the service
// announced NB_CAP_WEBP (serviceCaps as ServiceCapabilities gives them).
bool IsRecodedImage(const std::string& sExt, std::uint16_t serviceCaps);
