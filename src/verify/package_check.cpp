#include "verify/package_check.h"

#include "inf/driver_ver.h"
#include "inf/supported_os.h"
#include "platform/files.h"
#include "platform/run_guard.h"
#include "report/output.h"
#include "verify/checks.h"
#include "verify/package_steps.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace halyard {

namespace unit_main {

std::string CorrectVersionEx(const std::string& ver) {
    // UnitMain's CorrectVersion is the INF module's, built as that one operation.
    std::string text = halyard::CorrectVersion(ver);
    while (text.size() > 1 && text.ends_with(".0")) {
        text.resize(text.size() - 2);
    }
    return text == "0" ? std::string() : text;
}

} // namespace unit_main

std::vector<std::string> CatalogOsCodes(const std::string& workPath) {
    return PrepareSupportedOS("", workPath, true, true);
}

bool OsAmongCodes(const std::vector<std::string>& codes, const std::string& os) {
    return std::find(codes.begin(), codes.end(), os) != codes.end();
}

bool VerifyFilesWithCatOS(const std::string& workPath, const std::string& os) {
    return OsAmongCodes(CatalogOsCodes(workPath), os);
}

bool Verify(const std::string& argument) {
    PackageFacts facts;
    const PackageStepResult name = CheckArchiveName(argument, facts);
    if (!name.ok) {
        WriteLine("wrong:Archive name: " + argument);
        return false;
    }
    // Nothing beside the archive is touched before it has been opened as a regular file.
    const PackageStepResult opened = OpenArchive(facts);
    if (!opened.ok) {
        WriteLine("wrong:" + opened.reason);
        return false;
    }
    // A leftover folder goes; anything else in its place, or a folder another run is using,
    // stops the run. The guard removes the folder on every path from here on, and so does an
    // interruption (the run then ends by the signal); one that comes while the run removes the
    // folder below waits for that removal.
    platform::WorkFolder::Made work;
    std::unique_ptr<platform::InterruptCleanup> removal;
    std::atomic<bool> interrupted = true;
    platform::WithoutInterruption([&] {
        work = platform::WorkFolder::create(facts.workPath);
        if (!work.folder) {
            return;
        }
        platform::WorkFolder* folder = work.folder.get();
        removal = std::make_unique<platform::InterruptCleanup>([folder, &interrupted] {
            // The unpacking threads may still be adding items while an interruption removes
            // them.
            for (int round = 0; interrupted && round < 20; ++round) {
                try {
                    folder->remove();
                    return;
                } catch (...) {
                }
            }
            folder->remove();
        });
    });
    if (!work.folder) {
        WriteLine("UnZipFile: " + work.refusal);
        WriteLine("wrong:UnZipFile failed");
        return false;
    }
    facts.work = work.folder.get();
    bool result = false;
    {
        // What SignTool's starts share within this run lives in a folder of the run's own, gone
        // with it (a start without one keeps nothing).
        const std::unique_ptr<platform::RunFolder> shared = platform::RunFolder::create();
        result = RunPackageSteps(facts, StepMode::StopAtFirstFailure,
                                 [&](const PackageStepResult& step) {
                                     if (!step.ok) {
                                         WriteLine("wrong:" + step.reason);
                                     } else if (step.name == "UnZipFile") {
                                         // Filled: from here on the checks read it through its
                                         // path.
                                         work.folder->seal();
                                     }
                                 });
    }
    // A work folder that cannot be removed is an error even after every test passed.
    interrupted = false;
    removal->runNow();
    return result;
}

} // namespace halyard
