// A KISS stream of any content, fed whole and in pieces: the same frames
// either way, none longer than the cap; a frame read as AX.25 gives a
// monitor line that reads again, and written back to AX.25 the same frame
// reads as the same line.
#include "aprs/kiss.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bearfix;
    const std::string text = fuzz::text(data, size);
    KissDeframer whole, pieces;
    const std::vector<KissFrame> frames = whole.feed(text);
    std::vector<KissFrame> again;
    for (std::size_t at = 0; at < text.size(); at += 3)
        for (KissFrame& f : pieces.feed(std::string_view(text).substr(at, 3))) again.push_back(std::move(f));
    fuzz::check(frames.size() == again.size() && whole.dropped() == pieces.dropped());
    std::vector<std::string> raw;
    for (const KissFrame& f : frames) raw.push_back(f.data);
    raw.push_back(text);  // the input as a frame without KISS, too
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (i < frames.size()) fuzz::check(frames[i].data == again[i].data && frames[i].data.size() < kMaxKissFrameBytes);
        Tnc2Packet p, back;
        std::string why, ax25;
        if (!ax25ToTnc2(raw[i], p, why)) {
            fuzz::check(!why.empty());
            continue;
        }
        const std::string line = formatTnc2(p);
        fuzz::check(parseTnc2(line, back, why) && formatTnc2(back) == line);
        fuzz::check(tnc2ToAx25(p, ax25, why) && ax25ToTnc2(ax25, back, why) && formatTnc2(back) == line);
        // The frame through KISS and back.
        KissDeframer k;
        const std::vector<KissFrame> one = k.feed(kissFrame(ax25, 5));
        fuzz::check(one.size() == 1 && one[0].port == 5 && one[0].data == ax25);
    }
    return 0;
}
