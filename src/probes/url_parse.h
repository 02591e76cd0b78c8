#pragma once
// The URL helpers of the web page fetch. They are pure text work and live in the platform layer
// (platform/url_parse.h), where the companions reach them too; the fetch names them here.

#include "text/url_parse.h"

namespace snx::probes {

using snx::platform::ComposeUrl;
using snx::platform::FindLocationHeader;
using snx::platform::ParseUrl;
using snx::platform::ResolveReference;
using snx::platform::UrlParts;
using snx::platform::UrlService;

}  // namespace snx::probes
