# Every target installs what it needs (scripts/install-deps.sh), configures and builds.
.PHONY: all demo test sanitize bench build clean windows test-windows

# ccache keys paths inside the repository relative to it, so that a fresh clone
# elsewhere (as CI makes) reuses what an earlier build compiled.
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := true

all: build

build:
	bash scripts/build.sh

# Build, install the plug-ins for this user and render the demo to demo-render.wav.
demo:
	bash scripts/demo.sh

# Build and run every test.
test:
	bash scripts/test.sh

# The tests again under AddressSanitizer, UndefinedBehaviorSanitizer and
# ThreadSanitizer, and the state fuzzer; any report fails.
sanitize:
	bash scripts/sanitize.sh

# Real-time factors of fixed scenarios, side by side with a reference organ.
bench:
	bash scripts/bench.sh

# The Windows VST3, Standalone and tools cross-built with MinGW-w64, and dist/ with
# the zip a Windows user unpacks.
windows:
	bash scripts/windows.sh build

# The Windows build's checks under Wine: engine, processor and host tests, the
# module file, renders compared with the Linux build's, the editor.
test-windows:
	bash scripts/windows.sh test

clean:
	rm -rf build build-clang build-asan build-tsan build-windows dist
