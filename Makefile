# make run     - install what is missing, build velkaro-sim and what it needs, start it
# make test    - install what is missing, build everything, run the whole test suite
# make package - install what is missing, release build of what the package holds,
#                the Debian package velkaro_<version>_amd64.deb
# Quiet: one line per step, and the compiler's errors and warnings in full.
# make V=1 ... shows every command and all that the tools print.
BUILD   ?= build
JOBS    ?= $(shell nproc)
PACKAGES = cmake ninja-build make g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev fonts-liberation2 librsvg2-bin \
           libsigrokdecode-dev
# what the tests need besides: the Windows cross compiler, QEMU with a kernel for the port test,
# the validators of the desktop entries, the metainfo, the manual pages and the package,
# sigrok's reader of the command line tool's VCD files, rtkit and setcap (the routes to real-time sampling)
TEST_PACKAGES = g++-mingw-w64-x86-64 qemu-system-x86 linux-image-amd64 busybox-static \
                desktop-file-utils appstream man-db lintian sigrok-cli rtkit libcap2-bin
# what CPack's DEB generator calls: dpkg-shlibdeps and file
PACKAGE_PACKAGES = dpkg-dev file
PACKAGE_BUILD ?= build-package

MAKEFLAGS += --no-print-directory
# a build's failure is that of the build, not of the filter its output passes
SHELL := /bin/bash
.SHELLFLAGS := -o pipefail -c
ifeq ($(V),1)
  Q       :=
  QUIET   :=
  INSTALL := tools/install-packages --verbose
else
  Q       := @
  QUIET   := >/dev/null
  INSTALL := tools/install-packages
endif

# $(call configure,DIR,CMAKE-ARGS): configures DIR with Ninja. A directory that
# another generator set up is configured afresh; re-running on a configured one
# costs a second and picks up packages installed since.
define configure
	$(Q)if [ ! -f $(1)/CMakeCache.txt ]; then echo "Configuring $(1)/"; \
	elif ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' $(1)/CMakeCache.txt; then \
	  echo "Configuring $(1)/ afresh: another generator set it up"; fresh=--fresh; fi; \
	cmake $${fresh:-} -S . -B $(1) -G Ninja $(2) $(QUIET)
endef

# $(call build,DIR,TARGETS,WHAT): builds TARGETS (all when empty) in DIR; WHAT names
# them, without quotes. Quiet, it says once how many steps the build takes and
# passes on what the tools print; ninja's line per step and its re-check of
# CMake's globs are left out.
ifeq ($(V),1)
define build
	cmake --build $(1) -j $(JOBS) $(if $(2),--target $(2)) -- -v
endef
else
define build
	@NINJA_STATUS='[step %t] ' cmake --build $(1) -j $(JOBS) $(if $(2),--target $(2)) 2>&1 | awk \
	  '/^\[step [0-9]+\] / { if (!said && $$3 != "Re-checking" && $$3 != "Re-running") { \
	       print "Building $(3): " substr($$2, 1, length($$2) - 1) " steps, $(JOBS) at a time"; fflush(); said = 1 }; next } \
	   /^ninja: no work to do\.$$/ { print "Building $(3): up to date"; next } \
	   { print; fflush() }'
endef
endif

.PHONY: setup setup-test configure build run test package

setup:
	$(Q)$(INSTALL) $(PACKAGES)

setup-test: setup
	$(Q)$(INSTALL) $(TEST_PACKAGES)

configure: setup
	$(call configure,$(BUILD),-DCMAKE_BUILD_TYPE=RelWithDebInfo)

# everything: the programs, the tests, the benchmark, the QEMU guest programs
build: configure
	$(call build,$(BUILD),,everything)

run: configure
	$(call build,$(BUILD),velkaro-sim,velkaro-sim)
	@echo "Starting $(BUILD)/velkaro-sim"
	$(Q)$(BUILD)/velkaro-sim

test: setup-test build
	$(Q)cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# A release build with Debian's compiler and linker flags (every hardening feature), packaged by
# CPack. Without the tests, the build's default target is what the package holds.
package: setup
	$(Q)$(INSTALL) $(PACKAGE_PACKAGES)
	$(call configure,$(PACKAGE_BUILD),-DCMAKE_BUILD_TYPE=Release -DVELKARO_TESTS=OFF \
	  -DVELKARO_DECODERS_DIR=/usr/share/velkaro/decoders \
	  -DCMAKE_CXX_FLAGS="$$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CXXFLAGS) \
	                     $$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get CPPFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get LDFLAGS)")
	$(call build,$(PACKAGE_BUILD),,what the package holds)
	@echo "Packaging"
	$(Q)cd $(PACKAGE_BUILD) && cpack -G DEB > cpack.log 2>&1 || { cat cpack.log; exit 1; }; \
	$(if $(Q),grep -i -e warning -e error cpack.log;,cat cpack.log;) \
	sed -n 's|^CPack: - package: \(.*\) generated\.$$|Package: \1|p' cpack.log

# make bench  - build the benchmark, then measure the sampling cycle (a few minutes)
.PHONY: bench
bench: configure
	$(call build,$(BUILD),velkaro-bench,velkaro-bench)
	$(Q)QT_QPA_PLATFORM=offscreen $(BUILD)/velkaro-bench

# make hwtest - the port provider on a real kernel with QEMU's emulated parallel port
.PHONY: hwtest
hwtest: setup-test configure
	$(call build,$(BUILD),port_hwtest_guest window_hwtest_guest,the QEMU guest programs)
	$(Q)cd $(BUILD) && ctest -R '^hwtest_' --output-on-failure

# make check-asan - the whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer
# make fuzz       - each libFuzzer target for FUZZ_SECONDS (60) seconds: the settings file,
#                   the cell readings, the command line tool's arguments, the shared simulated machine's object
# make soak       - ten minutes of fastest sampling, under AddressSanitizer and plain, watching memory
ASAN_BUILD    ?= build-asan
FUZZ_BUILD    ?= build-fuzz
FUZZ_SECONDS  ?= 60
SOAK_SECONDS  ?= 600
FUZZ_PACKAGES  = clang libclang-rt-14-dev
# Leaks are errors; the suppressions name third-party libraries only.
SANITIZER_ENV  = ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1 \
                 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
                 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
.PHONY: check-asan check-tsan fuzz soak

check-asan: setup
	$(call configure,$(ASAN_BUILD),-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKARO_SANITIZE=ON)
	$(call build,$(ASAN_BUILD),,everything with the sanitizers)
	$(Q)cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS)

# make check-tsan - the capture's tests and the windows' tests built with ThreadSanitizer: the
#                   sampling thread and the window's thread share the port channel and the record
TSAN_BUILD ?= build-tsan
TSAN_TESTS  = tst_capture tst_realtime tst_self_test tst_decode tst_timeline tst_timeline_decoders tst_sampling tst_editing tst_connector tst_bitset_opening tst_shutdown
check-tsan: setup
	$(call configure,$(TSAN_BUILD),-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKARO_SANITIZE_THREAD=ON)
	$(call build,$(TSAN_BUILD),$(TSAN_TESTS),the tests with ThreadSanitizer)
	$(Q)cd $(TSAN_BUILD) && QT_QPA_PLATFORM=offscreen TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp \
	  ctest -R '^($(subst $(eval) ,|,$(TSAN_TESTS)))$$' --output-on-failure -j $(JOBS)

fuzz: setup
	$(Q)$(INSTALL) $(FUZZ_PACKAGES)
	$(call configure,$(FUZZ_BUILD),-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DVELKARO_SANITIZE=ON -DVELKARO_FUZZ=ON)
	$(call build,$(FUZZ_BUILD),fuzz_targets,the fuzz targets)
	$(Q)for target in settings_file register_readings cli_arguments shared_machine; do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$target $(FUZZ_BUILD)/artifacts; \
	  dict=""; [ -f tests/fuzz/$$target.dict ] && dict="-dict=tests/fuzz/$$target.dict"; \
	  echo "fuzz_$$target: $(FUZZ_SECONDS) s"; \
	  QT_QPA_PLATFORM=offscreen $(SANITIZER_ENV) $(FUZZ_BUILD)/fuzz_$$target -max_total_time=$(FUZZ_SECONDS) \
	    -timeout=10 -max_len=8192 $$dict -artifact_prefix=$(FUZZ_BUILD)/artifacts/ -print_final_stats=1 \
	    $(FUZZ_BUILD)/corpus/$$target tests/fuzz/corpus/$$target 2>$(FUZZ_BUILD)/fuzz_$$target.log \
	  || { tail -60 $(FUZZ_BUILD)/fuzz_$$target.log; exit 1; }; \
	  grep -E '^stat::(number_of_executed_units|new_units_added)' $(FUZZ_BUILD)/fuzz_$$target.log; \
	done

soak: configure
	$(call build,$(BUILD),velkaro_soak,velkaro_soak)
	$(call configure,$(ASAN_BUILD),-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKARO_SANITIZE=ON)
	$(call build,$(ASAN_BUILD),velkaro_soak,velkaro_soak with the sanitizers)
	$(Q)QT_QPA_PLATFORM=offscreen $(SANITIZER_ENV) $(ASAN_BUILD)/velkaro_soak $(SOAK_SECONDS) > $(ASAN_BUILD)/soak.log 2>&1 & \
	asan=$$!; \
	QT_QPA_PLATFORM=offscreen $(BUILD)/velkaro_soak $(SOAK_SECONDS) > $(BUILD)/soak.log 2>&1; plain=$$?; \
	wait $$asan; sanitized=$$?; \
	echo "== plain build (resident size)"; grep -v "raise()" $(BUILD)/soak.log; \
	echo "== AddressSanitizer build (heap in use)"; grep -v "raise()" $(ASAN_BUILD)/soak.log; \
	[ $$plain -eq 0 ] && [ $$sanitized -eq 0 ]
