// Silent AC-3 and E-AC-3 frames of a given shape, made from the syntax (ATSC A/52 and
// its Annex E): every block of every channel codes zero mantissa bits and no dither, so
// every decoded sample is exactly 0.
//
// Block 0 sends what a decoder needs: new exponents at the lowest bandwidth (chbwcod 0,
// strategy D45, all deltas 0), bit allocation parameters, and csnroffst and fsnroffst 0,
// which the bit allocation takes to mean that every bap is 0. The other blocks reuse
// all of it.

#include "ac3/ac3_format.h"
#include "common/bit_writer.h"

namespace lenfit {

namespace {

constexpr unsigned strategy_reuse = 0;
constexpr unsigned strategy_d45 = 3;
// chbwcod 0 ends a channel's band at coefficient 73: six groups of D45 exponents.
constexpr unsigned exponent_groups = 6;
constexpr unsigned lfe_exponent_groups = 2;
constexpr unsigned absolute_exponent = 15;
// Three exponent deltas of 0 in one group: 25 x 2 + 5 x 2 + 2.
constexpr unsigned unchanged_exponent_group = 62;
constexpr unsigned quietest_dialnorm = 31;
constexpr unsigned ac3_bsid = 8;

// New exponents of every channel, as block 0 sends them.
void put_exponents(BitWriter& w, unsigned channels, bool lfe) {
    for (unsigned ch = 0; ch < channels; ++ch) put_bits(w, 0, 6);  // chbwcod
    for (unsigned ch = 0; ch < channels; ++ch) {
        put_bits(w, absolute_exponent, 4);
        for (unsigned group = 0; group < exponent_groups; ++group) put_bits(w, unchanged_exponent_group, 7);
        put_bits(w, 0, 2);  // gainrng
    }
    if (lfe) {
        put_bits(w, absolute_exponent, 4);
        for (unsigned group = 0; group < lfe_exponent_groups; ++group) put_bits(w, unchanged_exponent_group, 7);
    }
}

// Sets the 16-bit word at `at` so that the CRC of bytes begin to end comes out 0. The
// CRC is linear, and a word's own CRC is the word carried over two zero bytes; so the
// word is the CRC of the bytes before it plus the register that end - at zero bytes
// would carry into the CRC of the bytes after it.
void set_crc_word(std::vector<std::uint8_t>& frame, std::size_t begin, std::size_t end, std::size_t at) {
    const std::uint16_t before = ac3_crc16(frame.data() + begin, at - begin);
    const std::uint16_t after = ac3_crc16(frame.data() + at + 2, end - at - 2);
    const unsigned word = before ^ ac3_crc16_before_zero_bytes(after, end - at);
    frame[at] = static_cast<std::uint8_t>(word >> 8);
    frame[at + 1] = static_cast<std::uint8_t>(word);
}

void put_ac3_bsi(BitWriter& w, const std::uint8_t* h, unsigned acmod, bool lfe) {
    const unsigned own_bsid = bsid(h);
    // Half and quarter rates (bsid 9 and 10) keep their own bsid.
    put_bits(w, own_bsid == 9 || own_bsid == 10 ? own_bsid : ac3_bsid, 5);
    put_bits(w, bsmod(h), 3);
    put_bits(w, acmod, 3);
    if ((acmod & 1u) && acmod != 1) put_bits(w, 0, 2);  // cmixlev
    if (acmod & 4u) put_bits(w, 0, 2);                  // surmixlev
    if (acmod == 2) put_bits(w, 0, 2);                  // dsurmod
    put_bits(w, lfe ? 1 : 0, 1);
    for (unsigned program = 0; program < (acmod == 0 ? 2u : 1u); ++program) {
        put_bits(w, quietest_dialnorm, 5);
        put_bits(w, 0, 3);  // compre, langcode, audprodie
    }
    put_bits(w, 0, 2);  // copyrightb, origbs
    put_bits(w, 0, 3);  // timecod1e, timecod2e, addbsie
}

std::vector<std::uint8_t> silent_ac3_frame(const std::uint8_t* h, std::size_t length) {
    std::vector<std::uint8_t> frame(length, 0);
    BitWriter w{frame};
    const unsigned acmod = lenfit::acmod(h);
    const unsigned channels = ac3_full_bandwidth_channels(acmod);
    const bool lfe = ac3_lfe_on(h);
    put_bits(w, 0x0B77, 16);
    put_bits(w, 0, 16);  // crc1, set below
    put_bits(w, h[4], 8);  // fscod, frmsizecod
    put_ac3_bsi(w, h, acmod, lfe);
    for (unsigned block = 0; block < 6; ++block) {
        const bool first = block == 0;
        put_bits(w, 0, channels);               // blksw
        put_bits(w, 0, channels);               // dithflag
        put_bits(w, 0, acmod == 0 ? 2 : 1);     // dynrnge (and dynrng2e)
        put_bits(w, first ? 2 : 0, first ? 2 : 1);  // cplstre, and in block 0 cplinu 0
        if (acmod == 2) put_bits(w, first ? 0x10 : 0, first ? 5 : 1);  // rematstr, rematflg
        for (unsigned ch = 0; ch < channels; ++ch) put_bits(w, first ? strategy_d45 : strategy_reuse, 2);
        if (lfe) put_bits(w, first ? 1 : 0, 1);
        if (first) {
            put_exponents(w, channels, lfe);
            // baie with sdcycod 2, fdcycod 1, sgaincod 1, dbpbcod 2, floorcod 7.
            put_bits(w, 1, 1);
            put_bits(w, 0x4B7, 11);
            // snroffste, csnroffst 0, and for every channel fsnroffst 0 and fgaincod 4.
            put_bits(w, 1, 1);
            put_bits(w, 0, 6);
            for (unsigned ch = 0; ch < channels + (lfe ? 1 : 0); ++ch) put_bits(w, 4, 7);
        } else {
            put_bits(w, 0, 2);  // baie, snroffste
        }
        put_bits(w, 0, 2);  // deltbaie, skiple
    }
    if (w.overflowed || w.bit > 8 * (length - 2)) return {};
    // crc1 covers the first 5/8 of the frame, crc2 all of it.
    set_crc_word(frame, 2, ((length >> 2) + (length >> 4)) << 1, 2);
    set_crc_word(frame, 2, length, length - 2);
    return frame;
}

// Reads bits of a header, most significant first.
struct BitReader {
    const std::uint8_t* bytes;
    std::size_t n;
    std::size_t bit = 0;
};

unsigned get_bits(BitReader& r, unsigned count) {
    unsigned value = 0;
    for (unsigned i = 0; i < count; ++i, ++r.bit) {
        const unsigned byte = r.bit / 8 < r.n ? r.bytes[r.bit / 8] : 0;
        value = value << 1 | ((byte >> (7 - r.bit % 8)) & 1u);
    }
    return value;
}

// A dependent frame's chanmape and chanmap, which follow dialnorm and compr.
unsigned channel_map_bits(const std::uint8_t* h, std::size_t n, unsigned acmod, unsigned& count) {
    BitReader r{h, n, 45};
    for (unsigned program = 0; program < (acmod == 0 ? 2u : 1u); ++program) {
        get_bits(r, 5);
        if (get_bits(r, 1)) get_bits(r, 8);
    }
    const unsigned present = get_bits(r, 1);
    count = present ? 17 : 1;
    return present ? (1u << 16 | get_bits(r, 16)) : 0;
}

void put_eac3_bsi(BitWriter& w, const std::uint8_t* h, std::size_t length, unsigned acmod) {
    const unsigned type = strmtyp(h);
    const unsigned blocks = ac3_frame_blocks(h);
    put_bits(w, 16, 5);  // bsid
    for (unsigned program = 0; program < (acmod == 0 ? 2u : 1u); ++program) {
        put_bits(w, quietest_dialnorm, 5);
        put_bits(w, 0, 1);  // compre
    }
    if (type == 1) {
        unsigned count = 0;
        const unsigned map = channel_map_bits(h, length, acmod, count);
        put_bits(w, map, count);
    }
    put_bits(w, 0, 2);  // mixmdate, infomdate
    if (type == 0 && blocks != 6) put_bits(w, 0, 1);  // convsync
    if (type == 2) put_bits(w, 0, blocks == 6 ? 6 : 1);  // frmsizecod, or blkid 0
    put_bits(w, 0, 1);  // addbsie
}

std::vector<std::uint8_t> silent_eac3_frame(const std::uint8_t* h, std::size_t length) {
    std::vector<std::uint8_t> frame(length, 0);
    BitWriter w{frame};
    const unsigned acmod = eac3_acmod(h);
    const unsigned channels = ac3_full_bandwidth_channels(acmod);
    const bool lfe = eac3_lfeon(h) != 0;
    const bool independent = strmtyp(h) == 0;
    const unsigned blocks = ac3_frame_blocks(h);
    put_bits(w, 0x0B77, 16);
    put_bits(w, static_cast<unsigned>(h[2]) << 16 | static_cast<unsigned>(h[3]) << 8 | h[4], 24);
    put_eac3_bsi(w, h, length, acmod);
    // audfrm: AC-3 style exponent strategies, frame SNR offsets (0), dither flags sent,
    // nothing else.
    if (blocks == 6) put_bits(w, 2, 2);  // expstre 1, ahte 0
    put_bits(w, 0, 2);                   // snroffststr
    put_bits(w, 0x20, 8);  // transproce, blkswe, dithflage 1, bamode, frmfgaincode, dbaflde, skipflde, spxattene
    if (acmod > 1) put_bits(w, 0, blocks);  // cplinu 0, then cplstre 0 per block
    for (unsigned block = 0; block < blocks; ++block) {
        for (unsigned ch = 0; ch < channels; ++ch) put_bits(w, block == 0 ? strategy_d45 : strategy_reuse, 2);
    }
    if (lfe) {
        for (unsigned block = 0; block < blocks; ++block) put_bits(w, block == 0 ? 1 : 0, 1);
    }
    if (independent) put_bits(w, 0, blocks == 6 ? 5 * channels : 1);  // convexpstr, or convexpstre 0
    put_bits(w, 0, 10);                   // frmcsnroffst, frmfsnroffst
    if (blocks > 1) put_bits(w, 0, 1);    // blkstrtinfoe
    for (unsigned block = 0; block < blocks; ++block) {
        const bool first = block == 0;
        put_bits(w, 0, channels);            // dithflag
        put_bits(w, 0, acmod == 0 ? 2 : 1);  // dynrnge (and dynrng2e)
        put_bits(w, 0, 1);                   // spxinu in block 0, spxstre after it
        if (acmod == 2) put_bits(w, 0, first ? 4 : 1);  // rematflg, or rematstr
        if (first) put_exponents(w, channels, lfe);
        if (independent) put_bits(w, 0, 1);  // convsnroffste
    }
    if (w.overflowed || w.bit > 8 * (length - 2)) return {};
    set_crc_word(frame, 2, length, length - 2);
    return frame;
}

}  // namespace

bool ac3_silent_unit(const std::uint8_t* unit, std::size_t length, std::vector<std::uint8_t>& silent) {
    silent.clear();
    for (std::size_t at = 0; at < length;) {
        const std::uint32_t frame_length = ac3_frame_length_at(unit, length, at);
        if (frame_length == 0 || frame_length > length - at) return false;
        const std::uint8_t* h = unit + at;
        const std::vector<std::uint8_t> frame =
            is_eac3(h) ? silent_eac3_frame(h, frame_length) : silent_ac3_frame(h, frame_length);
        if (frame.empty()) return false;
        silent.insert(silent.end(), frame.begin(), frame.end());
        at += frame_length;
    }
    return !silent.empty();
}

}  // namespace lenfit
