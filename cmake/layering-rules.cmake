# The include graph the build enforces (cmake/check-layering.cmake reads this file). Paths are
# relative to the source folder; the first entry whose folder holds a file decides.

# Modules: "name | folder | public headers". The public part is a regular expression on the path
# inside the folder; "*" means every header of the module is public, "-" means none is (a
# tool's headers belong to the tool and its tests). Every other tools/<name>/ is such a tool.
set(HALYARD_LAYER_MODULES
    "base | src/base/ | *"
    # The trust engine: only its include folder is public.
    "trust | src/trust/ | ^include/"
    # The seam headers are public; the backends (posix/, win32/) are the platform's own.
    "platform | src/platform/ | ^[^/]+$"
    "report | src/report/ | *"
    "external | src/external/ | *"
    "catalog | src/catalog/ | *"
    "inf | src/inf/ | *"
    "verify | src/verify/ | *"
    "cli | src/cli/ | *"
    # Libraries the tests link: the fixture builder and the Setup API doubles.
    "fixtures | tools/fixtures/ | *"
    "setupapi-doubles | tools/setupapi-doubles/ | *")

# Headers private to their module although its public part takes them: regular expressions on
# the path. The 7-Zip binding's callers use sevenzip.h and its header and path checks; the rest
# of the binding is its own.
set(HALYARD_LAYER_PRIVATE
    "^src/external/sevenzip/sevenzip_(abi|budget|gate|library|reader|stream)\\.h$")

# Who may include whom: "folder | modules". A file includes its own module's headers (public or
# private) and the public headers of the modules listed for its folder ("*" every module, "-" none).
# cli -> verify -> (catalog, inf, external, report) -> platform -> base; the trust engine sits
# between base and platform and only the POSIX backend forwards to it.
set(HALYARD_LAYER_USES
    "src/base/ | -"
    "src/trust/ | platform base"
    "src/platform/posix/ | trust base"
    "src/platform/ | base"
    "src/report/ | platform base"
    "src/external/ | report platform base"
    "src/catalog/ | report platform base"
    "src/inf/ | report platform base"
    "src/verify/ | catalog inf external report platform base"
    "src/cli/ | verify catalog inf external report platform base"
    "tools/ | *"
    "tests/ | *"
    "bench/ | *"
    "fuzz/ | *")

# White-box tests: "folder regex | module folder". A test folder mirrors the code it tests and may
# include that module's private headers too; a fuzz target drives one parser from the inside.
set(HALYARD_LAYER_WHITE_BOX
    "^tests/unit/(.*)$ | src/\\1"
    "^tests/tools/([^/]+)/.*$ | tools/\\1/"
    "^fuzz/.*$ | *")

# Known exceptions: "includer regex | header regex | why". Each one is a debt, except where the
# reason says it is the design.
set(HALYARD_LAYER_EXCEPTIONS
    "^tools/setupapi-doubles/ | ^src/platform/posix/setupapi/stub_exports\\.h$ | by design: the doubles export the stub list of the library they stand in for"
    "^src/trust/src/posix/ | ^src/platform/posix/os/(input_file|unique_fd)\\.h$ | the engine's POSIX file access uses the POSIX backend's opener"
    "^src/trust/src/win32/ | ^src/platform/win32/(wide|input_file)\\.h$ | the engine's Windows file access uses the win32 backend's input opener, wide paths and handle owner"
    "^(tools/signtool|tests/tools/signtool)/ | ^src/platform/posix/os/unique_fd\\.h$ | the stand-in's run index owns descriptors with the backend's owner"
    "^tests/e2e/install/ | ^src/platform/posix/os/install_layout\\.h$ | the install test asks the backend where an installed tree keeps its parts")
