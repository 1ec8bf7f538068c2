# Every target installs what it needs (scripts/install-deps.sh), configures and builds.
.PHONY: all demo test build clean

all: build

build:
	bash scripts/build.sh

# Build, install the plug-ins for this user and render the demo to demo-render.wav.
demo:
	bash scripts/demo.sh

# Build and run every test.
test:
	bash scripts/test.sh

clean:
	rm -rf build
