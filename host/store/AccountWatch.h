#pragma once

namespace panelhost {

// Told by what follows a shared store's notices (StoreListener) when an
// account, a token or a session is changed by any host or tool, so that a
// copy of the accounts kept in memory is read again at once rather than
// only on a timer. Called on the follower's thread; an implementation must
// not wait on the store or on anything slow.
class AccountWatch {
  public:
    virtual ~AccountWatch() = default;

    // The notices are followed from now on (again): whatever changed while
    // they were not is read now, and further changes will be told.
    virtual void noticesFollowed() = 0;
    // The notices are no longer followed (their connection is lost): a
    // change is told by nobody until noticesFollowed().
    virtual void noticesLost() = 0;
    // An account, a token or a session was changed.
    virtual void accountsChanged() = 0;
};

}  // namespace panelhost
