# Entry points for people; CMake does the real work.
#   make run    build the Linux demo and run it
#   make assets rebuild every generated data file from its source
#   make windows64  the 64-bit Windows exe (the 32-bit one is shipped)
#   make test   build everything (Linux, sanitizers, Windows exe) and run every test
#   make check  the quick loop: the Linux tree built once (build/check, warnings are errors,
#               ccache where installed) and its tests, without wine, sanitizers, the web build,
#               fuzzing or the slow tests; the format and layer checks first
#   make release            dist/tinselbay-<version>.zip: both programs, nfo, screenshot
#   make release CAPTURE=1  the same with a video capture of the intro (takes minutes)
#   make web    build the page (build/web); make serve-web serves it on 127.0.0.1
#   make install [PREFIX=DIR]  the player library for other programs: tinsel.h,
#               libtinsel.so.1, libtinsel.a, tinsel.pc, a CMake package (default /usr/local),
#               and the GStreamer element in lib/gstreamer-1.0 where GStreamer is
BUILD ?= build
PREFIX ?= /usr/local
WEB_PORT ?= 8000
JOBS ?= $(shell nproc)
# The quick loop compiles through ccache where there is one, its paths taken from the
# tree's root and without the build folder, so that another clone or build folder
# reuses what one compiled (the debugger may then look for sources from the wrong folder).
CHECK_CCACHE := $(if $(shell command -v ccache),-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Options for the release's capture, e.g. CAPTURE_ARGS="--scale 3".
CAPTURE_ARGS ?= --scale 2

.PHONY: deps run demo test check windows windows64 web serve-web assets clean release install
deps:
	scripts/deps.sh
# Escape ends the demo with code 27 (the key's message); that is a normal end.
run: deps demo
	./$(BUILD)/linux/src/app/Tinselbay || [ $$? -eq 27 ]
demo:
	cmake -S . -B $(BUILD)/linux -G Ninja -DCMAKE_BUILD_TYPE=Release -DTINSEL_TESTS=OFF -DTINSEL_BENCH=OFF
	cmake --build $(BUILD)/linux --target Tinselbay
windows:
	scripts/build-windows.sh $(BUILD)/windows
windows64:
	scripts/build-windows.sh $(BUILD)/windows64 x86_64
web: deps
	scripts/build-web.sh $(BUILD)/web
serve-web:
	@test -f $(BUILD)/web/index.html || { echo "no page yet: run make web first"; exit 1; }
	@echo "Tinselbay: http://127.0.0.1:$(WEB_PORT)/ (Ctrl+C stops the server)"
	python3 -m http.server --bind 127.0.0.1 --directory $(BUILD)/web $(WEB_PORT)
test:
	scripts/deps.sh --wine
	scripts/test-all.sh $(BUILD)
# Tests never touch a sound card; the GL library's own leaks are not ours.
check:
	scripts/check-format.sh
	scripts/check-layers.py
	cmake -S . -B $(BUILD)/check -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTINSEL_WERROR=ON \
	  -DTINSEL_BENCH=OFF $(CHECK_CCACHE)
	CCACHE_BASEDIR="$${CCACHE_BASEDIR:-$(CURDIR)}" CCACHE_NOHASHDIR=1 cmake --build $(BUILD)/check -j $(JOBS)
	SDL_AUDIODRIVER=dummy LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  ctest --test-dir $(BUILD)/check --output-on-failure -j $(JOBS) -LE 'wine|fuzz|slow'
assets:
	scripts/make-assets.sh $(BUILD)/assets
install:
	cmake -S . -B $(BUILD)/lib -G Ninja -DCMAKE_BUILD_TYPE=Release -DTINSEL_TESTS=OFF -DTINSEL_BENCH=OFF \
	  -DTINSEL_TOOLS=OFF
	cmake --build $(BUILD)/lib --target tinsel_shared tinsel_static tinsel_gst_plugin
	cmake --install $(BUILD)/lib --prefix $(PREFIX) --component tinsel
	cmake --install $(BUILD)/lib --prefix $(PREFIX) --component gstreamer
release: deps demo windows
ifeq ($(CAPTURE),1)
	cmake --build $(BUILD)/linux --target tinsel-capture
	mkdir -p $(BUILD)/release
	$(BUILD)/linux/tools/capture/tinsel-capture -o $(BUILD)/release/tinselbay.mp4 --data assets $(CAPTURE_ARGS)
	scripts/make-release.sh --windows $(BUILD)/windows/src/app/Tinselbay.exe \
	  --linux $(BUILD)/linux/src/app/Tinselbay --capture $(BUILD)/release/tinselbay.mp4
else
	scripts/make-release.sh --windows $(BUILD)/windows/src/app/Tinselbay.exe --linux $(BUILD)/linux/src/app/Tinselbay
endif
clean:
	rm -rf $(BUILD)
