// Reads the manifest next to the program into the removal plan.
#pragma once

#include <string>

#include "plan/removal_plan.h"
#include "platform/platform.h"

// What a manifest with a Setup element yields for the dialog.
struct ManifestTexts {
    bool present = false;  // false: keep the dialog's own texts
    std::string displayName;
    std::string prompt;
    std::string caption;
};

extern const char kPromptTemplate[];
extern const char kCaptionTemplate[];

// Sets `text` to the named attribute's text, or to the empty string.
void ReadAttribute(platform::XmlNode& node, const char* name, std::string& text);

// Fills `plan` from the manifest the context names (its argument, relative to the
// program folder), and `texts` as soon as the Setup element has been read. Never
// reports a failure: what cannot be read is absent from the plan. Only an
// allocation failure escapes, after every DOM object has been released.
void ReadManifest(platform::Platform& os, const RunContext& context, RemovalPlan& plan, ManifestTexts& texts);
