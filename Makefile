# Convenience wrapper around CMake. `make run` and `make test` set up everything they need.

BUILD_DIR    ?= build
SANITIZE_DIR ?= build-sanitize
JOBS         ?= $(shell nproc)
CMAKE_FLAGS  ?=
ifeq ($(WERROR),1)
CMAKE_FLAGS += -DBEARFIX_WERROR=ON
endif

FUZZ_DIR     ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := position commands readline vector_file aux xml_tracks settings remote bearing_csv tiles \
                udp_bearing receiver_csv aprs kiss track_journal

PREFIX       ?= /usr/local
DEB_DIR      ?= build-deb

.PHONY: all deps configure build run test bench sanitize fuzz install deb clean

all: build

deps:
	@./scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

# Started from the repository root so that map_data/ and html/ are found.
run: build
	./$(BUILD_DIR)/app/bearfix

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

bench: build
	./$(BUILD_DIR)/bench/bearfix_bench

sanitize: deps
	@cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DBEARFIX_SANITIZE=ON -DBEARFIX_BENCH=OFF $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && ctest --output-on-failure -j $(JOBS)

# Each libFuzzer target for FUZZ_SECONDS, starting from its committed corpus.
# New inputs collect in $(FUZZ_DIR)/corpus, findings in $(FUZZ_DIR)/findings.
# The file readers get inputs of up to 1 MB (deep nesting and long files need
# room) and a dictionary of their tags and keys; an input that runs longer
# than FUZZ_TIMEOUT seconds counts as a hang. FUZZ_TARGETS=... runs a few.
FUZZ_TIMEOUT ?= 30
FUZZ_BIG_INPUTS := xml_tracks settings vector_file
fuzz:
	@./scripts/install-deps fuzz
	@cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DBEARFIX_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS)
	@mkdir -p $(FUZZ_DIR)/findings
	@for t in $(FUZZ_TARGETS); do \
		mkdir -p $(FUZZ_DIR)/corpus/$$t; \
		echo "== $$t"; \
		extra=""; \
		case " $(FUZZ_BIG_INPUTS) " in *" $$t "*) extra="-max_len=1048576 -dict=tests/fuzz/dict/$$t.dict";; esac; \
		./$(FUZZ_DIR)/tests/fuzz/fuzz_$$t $(FUZZ_DIR)/corpus/$$t tests/fuzz/corpus/$$t $$extra \
			-max_total_time=$(FUZZ_SECONDS) -timeout=$(FUZZ_TIMEOUT) -rss_limit_mb=4096 -print_final_stats=1 \
			-artifact_prefix=$(FUZZ_DIR)/findings/$$t- > $(FUZZ_DIR)/$$t.log 2>&1; rc=$$?; \
		grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+== ?ERROR|SUMMARY)" $(FUZZ_DIR)/$$t.log; \
		echo "   corpus: $$(ls $(FUZZ_DIR)/corpus/$$t | wc -l) inputs"; \
		[ $$rc -eq 0 ] || { echo "fuzz_$$t found a fault: see $(FUZZ_DIR)/$$t.log"; exit $$rc; }; \
	done

install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# A Debian package in $(DEB_DIR), built for /usr: only what it holds is
# built, in parallel (cpack's own install would build everything, one file
# at a time).
deb: deps
	@./scripts/install-deps deb
	@cmake -S . -B $(DEB_DIR) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DBEARFIX_BENCH=OFF \
		-DBEARFIX_TESTS=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(DEB_DIR) -j $(JOBS) --target bearfix bearfix-cli
	cd $(DEB_DIR) && cpack -G DEB
	@ls $(DEB_DIR)/*.deb

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(FUZZ_DIR) $(DEB_DIR)
