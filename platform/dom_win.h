// The XML DOM of the platform (MSXML through COM).
#pragma once

#include <windows.h>

#include <memory>

#include "platform/platform.h"

namespace platform {

extern const CLSID kClsidDomDocument;
extern const IID kIidXmlDomDocument;

// Creates the DOM document of `domClass`, initialising COM on this thread only when
// the first attempt fails; null when it cannot be created even then. The session
// ends COM again when destroyed, if it started it.
std::unique_ptr<XmlSession> OpenMsxml(const CLSID& domClass);

}  // namespace platform
