// What OK does: carries out the removal plan in a fixed order and says it is done.
#pragma once

#include <string>

#include "plan/removal_plan.h"
#include "platform/platform.h"

extern const char kCompletionTemplate[];
extern const char kCompletionCaption[];
extern const char kUnreadManifestText[];
extern const char kUnreadManifestCaption[];

// A key path that names one product's own key strictly below the Uninstall key.
bool IsProductKey(const std::string& key);
// A bare drive or share root ("D:", "\\server\share").
bool IsBareRoot(const std::string& path);
// Whether the program folder may be emptied: never a root, nor a folder of the
// system or the user, nor one that holds such a folder.
bool MayEmptyProgramFolder(platform::Platform& os, const std::string& folder);

// Runs the module uninstallers, deletes shortcuts, group folders, the program
// folder's contents and the registry entry, then shows the completion message.
// A failure in one item never stops the later ones. A plan whose manifest could not
// be read removes nothing; the user is told so instead.
void RunRemovalSteps(platform::Platform& os, const RemovalPlan& plan, platform::WindowRef owner);
