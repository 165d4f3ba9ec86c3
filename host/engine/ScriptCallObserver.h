#pragma once

namespace panelhost {

// Told when the host enters and leaves a script (the factory, a deliver()
// call or the destructor); used to tie a script's debug output to its
// instance. Both calls come from the engine's thread.
class ScriptCallObserver {
  public:
    virtual ~ScriptCallObserver() = default;

    virtual void enteringScript(int instance) = 0;
    virtual void leftScript(int instance) = 0;

  protected:
    ScriptCallObserver() = default;
    ScriptCallObserver(const ScriptCallObserver&) = default;
    ScriptCallObserver& operator=(const ScriptCallObserver&) = default;
};

}  // namespace panelhost
