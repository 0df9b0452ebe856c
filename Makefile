# Entry points for people; CMake does the real work.
#   make run    build the Linux demo and run it
#   make assets rebuild every generated data file from its source
#   make test   build everything (Linux, sanitizers, Windows exe) and run every test
BUILD ?= build

.PHONY: deps run demo test windows assets clean
deps:
	scripts/deps.sh
run: deps demo
	./$(BUILD)/linux/src/app/Tinselbay
demo:
	cmake -S . -B $(BUILD)/linux -G Ninja -DCMAKE_BUILD_TYPE=Release -DTINSEL_TESTS=OFF -DTINSEL_BENCH=OFF
	cmake --build $(BUILD)/linux --target Tinselbay
windows:
	scripts/build-windows.sh $(BUILD)/windows
test:
	scripts/deps.sh --wine
	scripts/test-all.sh $(BUILD)
assets:
	scripts/make-assets.sh $(BUILD)/assets
clean:
	rm -rf $(BUILD)
