// The journal of a removal under way, so that a removal cut short runs only the
// rest when it is started again.
#pragma once

#include <string>

#include "plan/removal_plan.h"
#include "platform/platform.h"

// The subkey of the product's key that holds it.
extern const char kProgressKey[];

// It lives in a subkey of the product's key: it goes with the key, and writing it
// leaves the key's own last-write time alone. Its first entry names the
// installation it belongs to: the manifest's file stamp and a hash of its bytes,
// and the key's last-write time once the journal was made. A repair or a reinstall
// writes the key or the manifest again (a file's index and time can even come back
// the same), and the journal no longer counts. Then each module command is
// recorded as started before it runs and as done once it ended well, and the key
// as going before it is deleted.
class Journal {
public:
    // What an earlier removal of this installation recorded, as far as it still
    // counts. `manifest` empty: the manifest is gone, and only the key can tell.
    Journal(platform::Platform& os, const RemovalPlan& plan, const std::string& manifest);
    bool Counts() const { return !entries_.empty(); }

    // Written as the removal starts, before anything runs, so that a rerun knows a
    // removal of this installation was under way. Making the subkey is the
    // removal's last write to the key itself before it deletes it. False when no
    // journal can be kept (a product key that is none is not even tried).
    bool Begin();

    bool Started(const std::string& command) const { return Has(kStarted + command); }
    bool Done(const std::string& command) const { return Has(kDone + command); }
    void Start(const std::string& command) { Add(kStarted + command); }
    // A command that could not even start was never under way.
    void Unstart(const std::string& command) { Drop(kStarted + command); }
    void Finish(const std::string& command) { Add(kDone + command); }
    void KeyGoes() { Add(kKeyGoes); }

private:
    static const char kStarted[], kDone[], kKeyGoes[];
    bool Has(const std::string& entry) const;
    void Add(const std::string& entry);
    void Drop(const std::string& entry);
    void Write();

    platform::Platform& os_;
    std::string productKey_, key_, manifest_;
    platform::StringList entries_;
};
