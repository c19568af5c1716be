// Encodes 16-bit mono frames into an Ogg Vorbis stream with libvorbisenc,
// for the SF3 banks the converter's tests and fuzz seeds build.
#pragma once

#include <ogg/ogg.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace brellin::testing {

// The whole stream as bytes; empty when the encoder refuses the set-up.
// `quality` is libvorbis's VBR quality, -0.1 … 1.
inline std::string encodeOggVorbis(const std::vector<std::int16_t>& frames, long rate, float quality = 0.5f) {
    std::string out;
    vorbis_info info;
    vorbis_info_init(&info);
    if (vorbis_encode_init_vbr(&info, 1, rate, quality) != 0) {
        vorbis_info_clear(&info);
        return out;
    }
    vorbis_comment comment;
    vorbis_comment_init(&comment);
    vorbis_dsp_state dsp;
    vorbis_block block;
    vorbis_analysis_init(&dsp, &info);
    vorbis_block_init(&dsp, &block);
    ogg_stream_state stream;
    ogg_stream_init(&stream, 1);  // a fixed serial number: the same frames give the same bytes
    ogg_page page;
    ogg_packet packet;
    auto append = [&out](const ogg_page& p) {
        out.append(reinterpret_cast<const char*>(p.header), static_cast<std::size_t>(p.header_len));
        out.append(reinterpret_cast<const char*>(p.body), static_cast<std::size_t>(p.body_len));
    };

    ogg_packet identification, comments, codebooks;
    vorbis_analysis_headerout(&dsp, &comment, &identification, &comments, &codebooks);
    ogg_stream_packetin(&stream, &identification);
    ogg_stream_packetin(&stream, &comments);
    ogg_stream_packetin(&stream, &codebooks);
    while (ogg_stream_flush(&stream, &page) != 0) append(page);

    std::size_t done = 0;
    bool finished = false;
    while (!finished) {
        const std::size_t n = std::min<std::size_t>(1024, frames.size() - done);
        if (n == 0) {
            vorbis_analysis_wrote(&dsp, 0);  // the end of the stream
        } else {
            float** buffer = vorbis_analysis_buffer(&dsp, static_cast<int>(n));
            for (std::size_t i = 0; i < n; ++i) buffer[0][i] = frames[done + i] / 32768.0f;
            vorbis_analysis_wrote(&dsp, static_cast<int>(n));
            done += n;
        }
        while (vorbis_analysis_blockout(&dsp, &block) == 1) {
            vorbis_analysis(&block, nullptr);
            vorbis_bitrate_addblock(&block);
            while (vorbis_bitrate_flushpacket(&dsp, &packet) == 1) {
                ogg_stream_packetin(&stream, &packet);
                while (ogg_stream_pageout(&stream, &page) != 0) {
                    append(page);
                    if (ogg_page_eos(&page)) finished = true;
                }
            }
        }
        if (n == 0 && !finished) {
            while (ogg_stream_flush(&stream, &page) != 0) append(page);
            finished = true;
        }
    }
    ogg_stream_clear(&stream);
    vorbis_block_clear(&block);
    vorbis_dsp_clear(&dsp);
    vorbis_comment_clear(&comment);
    vorbis_info_clear(&info);
    return out;
}

}  // namespace brellin::testing
