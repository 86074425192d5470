// What one run leaves behind when it is interrupted (nothing), and the private folder its helper
// programs share while it runs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace halyard::platform {

// Makes SIGINT, SIGTERM and SIGHUP stop the run cleanly: the running child (and everything it
// started) is killed, every registered clean-up runs, and the process then ends by the same
// signal. Called once at the start of main, before any thread exists (the signals stay blocked
// in every thread; one thread of its own waits for them). Nothing on Windows.
void InstallInterruptCleanup();

// A clean-up that runs when the run is interrupted, for as long as the object lives. The action
// runs on the waiting thread while other threads may still be working: it must hold what it
// removes by descriptor and tolerate entries appearing while it works.
class InterruptCleanup {
public:
    explicit InterruptCleanup(std::function<void()> action);
    ~InterruptCleanup(); // unregisters; an interruption in progress is waited for
    InterruptCleanup(const InterruptCleanup&) = delete;
    InterruptCleanup& operator=(const InterruptCleanup&) = delete;

    // Runs the action now (and never again), excluded from an interruption running at once.
    void runNow();

private:
    std::uint64_t id_ = 0;
    std::function<void()> action_;
};

// Runs make() so that an interruption comes wholly before or after it: for making something and
// registering its clean-up in one step.
void WithoutInterruption(const std::function<void()>& make);
// An interruption that comes during make() ends the run as soon as make() returns.
// True once an interruption has come (it then waits for WithoutInterruption to end): a wait inside
// make() gives up when it turns true, so that the run still ends at once.
bool InterruptionPending();

// Runs start(), which starts a child and returns its process id (0: none), so that an
// interruption either comes before the start or sees the child. The child's process group is
// killed on interruption until ChildEnded(pid); several children may be tracked at once. POSIX
// only; on Windows start() just runs.
std::intptr_t StartTrackedChild(const std::function<std::intptr_t()>& start);
void ChildEnded(std::intptr_t pid);

// The private folder of one run: made under $TMPDIR (an absolute path; else /tmp) by mkdtemp,
// mode 0700, and named to the run's children in the environment (kRunFolderVariable, with a
// random key for what they write there in kRunKeyVariable); removed with everything in it when
// the object goes or the run is interrupted. Windows runs the real SignTool, which needs none:
// create() returns null there.
class RunFolder {
public:
    static std::unique_ptr<RunFolder> create();
    ~RunFolder();
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;

    const std::string& path() const { return path_; }

private:
    RunFolder() = default;
    void remove();

    std::string path_;
    int parent_ = -1; // the folder that holds it
    int fd_ = -1;
    std::string name_;
    std::unique_ptr<InterruptCleanup> cleanup_;
};

inline constexpr const char* kRunFolderVariable = "HALYARD_RUN_DIR";
inline constexpr const char* kRunKeyVariable = "HALYARD_RUN_KEY";

} // namespace halyard::platform
