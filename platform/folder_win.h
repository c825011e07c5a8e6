// The one choice of the folder walk that depends on the system, made once per run.
#pragma once

namespace platform {

// Whether opening an entry with FILE_OPEN_REPARSE_POINT opens a link as itself
// (Windows), so that what was opened is the entry or a link in its place, never
// what a link leads to. False under Wine, which follows links whatever is asked:
// there the walk asks the name of each file it opened.
bool LinksOpenAsThemselves();
// Makes the choice instead of the system, for tests. Under Wine, true only on a
// tree without links: it would delete their targets.
void DecideLinksOpenAsThemselves(bool itself);

}  // namespace platform
