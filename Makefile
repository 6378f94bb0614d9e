# make run     - install what is missing, build, start velkaro-sim
# make test    - install what is missing, build, run the whole test suite
# make package - install what is missing, release build, the Debian package velkaro_<version>_amd64.deb
BUILD   ?= build
JOBS    ?= $(shell nproc)
PACKAGES = cmake make g++ pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev fonts-liberation2 librsvg2-bin
# what the tests need besides: the Windows cross compiler, QEMU with a kernel for the port test,
# the validators of the desktop entries, the metainfo, the manual pages and the package,
# and sigrok's reader of the command line tool's VCD files
TEST_PACKAGES = g++-mingw-w64-x86-64 qemu-system-x86 linux-image-amd64 busybox-static \
                desktop-file-utils appstream man-db lintian sigrok-cli
# what CPack's DEB generator calls: dpkg-shlibdeps and file
PACKAGE_PACKAGES = dpkg-dev file
PACKAGE_BUILD ?= build-package

.PHONY: setup setup-test configure build run test package

setup:
	@tools/install-packages $(PACKAGES)

setup-test: setup
	@tools/install-packages $(TEST_PACKAGES)

configure: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/velkaro-sim

test: setup-test build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# A release build with Debian's compiler and linker flags (every hardening feature), packaged by CPack.
package: setup
	@tools/install-packages $(PACKAGE_PACKAGES)
	@export DEB_BUILD_MAINT_OPTIONS=hardening=+all; \
	cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)" >/dev/null
	@cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	cd $(PACKAGE_BUILD) && cpack -G DEB

# make bench  - build, then measure the sampling cycle (a few minutes)
.PHONY: bench
bench: build
	QT_QPA_PLATFORM=offscreen $(BUILD)/velkaro-bench

# make hwtest - the port provider on a real kernel with QEMU's emulated parallel port
.PHONY: hwtest
hwtest: setup-test configure
	@cmake --build $(BUILD) -j $(JOBS) --target port_hwtest_guest
	cd $(BUILD) && ctest -R '^hwtest_' --output-on-failure

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
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKARO_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS)

# make check-tsan - the capture's tests and the windows' tests built with ThreadSanitizer: the
#                   sampling thread and the window's thread share the port channel and the record
TSAN_BUILD ?= build-tsan
TSAN_TESTS  = tst_capture tst_timeline tst_sampling tst_editing tst_connector tst_bitset_opening tst_shutdown
check-tsan: setup
	@cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKARO_SANITIZE_THREAD=ON >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TESTS)
	cd $(TSAN_BUILD) && QT_QPA_PLATFORM=offscreen TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp \
	  ctest -R '^($(subst $(eval) ,|,$(TSAN_TESTS)))$$' --output-on-failure -j $(JOBS)

fuzz: setup
	@tools/install-packages $(FUZZ_PACKAGES)
	@cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DVELKARO_SANITIZE=ON -DVELKARO_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets
	@for target in settings_file register_readings cli_arguments shared_machine; do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$target $(FUZZ_BUILD)/artifacts; \
	  dict=""; [ -f tests/fuzz/$$target.dict ] && dict="-dict=tests/fuzz/$$target.dict"; \
	  echo "fuzz_$$target: $(FUZZ_SECONDS) s"; \
	  QT_QPA_PLATFORM=offscreen $(SANITIZER_ENV) $(FUZZ_BUILD)/fuzz_$$target -max_total_time=$(FUZZ_SECONDS) \
	    -timeout=10 -max_len=8192 $$dict -artifact_prefix=$(FUZZ_BUILD)/artifacts/ -print_final_stats=1 \
	    $(FUZZ_BUILD)/corpus/$$target tests/fuzz/corpus/$$target 2>$(FUZZ_BUILD)/fuzz_$$target.log \
	  || { tail -60 $(FUZZ_BUILD)/fuzz_$$target.log; exit 1; }; \
	  grep -E '^stat::(number_of_executed_units|new_units_added)' $(FUZZ_BUILD)/fuzz_$$target.log; \
	done

soak: build
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKARO_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS) --target velkaro_soak
	@QT_QPA_PLATFORM=offscreen $(SANITIZER_ENV) $(ASAN_BUILD)/velkaro_soak $(SOAK_SECONDS) > $(ASAN_BUILD)/soak.log 2>&1 & \
	asan=$$!; \
	QT_QPA_PLATFORM=offscreen $(BUILD)/velkaro_soak $(SOAK_SECONDS) > $(BUILD)/soak.log 2>&1; plain=$$?; \
	wait $$asan; sanitized=$$?; \
	echo "== plain build (resident size)"; grep -v "raise()" $(BUILD)/soak.log; \
	echo "== AddressSanitizer build (heap in use)"; grep -v "raise()" $(ASAN_BUILD)/soak.log; \
	[ $$plain -eq 0 ] && [ $$sanitized -eq 0 ]
