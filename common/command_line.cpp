#include "common/command_line.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace lenfit {

namespace {

// A target this far away is a typing error, and beyond it frame counts lose precision.
constexpr double max_target_magnitude = 1e15;
// Edit lists' times lie below a billion seconds.
constexpr double max_edit_seconds = 1e9;
// A delay of a million seconds is no sync fix.
constexpr double max_delay_magnitude = 1e9;
// Frame rates lie between these, in frames per second.
constexpr double min_frame_rate = 0.001;
constexpr double max_frame_rate = 1000.0;

// "-x..." is always an option (only its second character counts, so "-output" is
// "-o"); "/x" is one only when it is that short, so that absolute paths stay paths.
bool is_option(const char* argument) {
    if (argument[0] == '-') return true;
    return argument[0] == '/' && std::strlen(argument) <= 2;
}

std::size_t count_digits(const char* text) {
    std::size_t n = 0;
    while (text[n] >= '0' && text[n] <= '9') ++n;
    return n;
}

// Length of a decimal number at text: [+-]?(digits[.digits?]|.digits)([eE][+-]?digits)?;
// 0 when there is none.
std::size_t decimal_length(const char* text) {
    std::size_t at = (text[0] == '+' || text[0] == '-') ? 1 : 0;
    const std::size_t whole = count_digits(text + at);
    at += whole;
    std::size_t fraction = 0;
    if (text[at] == '.') {
        fraction = count_digits(text + at + 1);
        if (whole == 0 && fraction == 0) return 0;
        at += 1 + fraction;
    } else if (whole == 0) {
        return 0;
    }
    if (text[at] == 'e' || text[at] == 'E') {
        std::size_t exponent = at + 1;
        if (text[exponent] == '+' || text[exponent] == '-') ++exponent;
        const std::size_t digits = count_digits(text + exponent);
        if (digits == 0) return 0;
        at = exponent + digits;
    }
    return at;
}

// A clock time as the tools print lengths: M:S or H:M:S, H and M digits, S digits with
// an optional fraction; the value is 3600 H + 60 M + S.
bool read_clock_time(const char* text, double& seconds) {
    double minutes = 0.0;  // the fields before the seconds, in minutes
    int fields = 0;
    for (const char* at = text;;) {
        const char* field = at;
        std::size_t length = count_digits(at);
        if (length == 0) return false;
        at += length;
        ++fields;
        if (*at == ':') {
            if (fields == 3) return false;
            minutes = minutes * 60.0 + std::strtod(std::string(field, length).c_str(), nullptr);
            ++at;
            continue;
        }
        if (fields < 2) return false;
        if (*at == '.') {
            const std::size_t fraction = count_digits(at + 1);
            if (fraction == 0) return false;
            length += 1 + fraction;
            at += 1 + fraction;
        }
        if (*at != '\0') return false;
        seconds = minutes * 60.0 + std::strtod(std::string(field, length).c_str(), nullptr);
        return true;
    }
}

const char* skip_space(const char* text) {
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    return text;
}

bool read_target(const char* text, double& target) {
    text = skip_space(text);
    const std::size_t decimal = decimal_length(text);
    if (decimal > 0 && text[decimal] == '\0') {
        target = std::strtod(text, nullptr);
    } else if (!read_clock_time(text, target)) {
        return false;
    }
    return std::isfinite(target) && std::fabs(target) < max_target_magnitude;
}

// A delay in milliseconds: a decimal number as a target is, then at once "ms" or nothing.
bool read_delay(const char* text, double& delay_ms) {
    text = skip_space(text);
    const std::size_t decimal = decimal_length(text);
    if (decimal == 0) return false;
    const char* rest = text + decimal;
    if (*rest != '\0' && std::strcmp(rest, "ms") != 0) return false;
    delay_ms = std::strtod(std::string(text, decimal).c_str(), nullptr);
    return std::isfinite(delay_ms) && std::fabs(delay_ms) < max_delay_magnitude;
}

// digits[.digits?] or .digits, the whole value: no sign, no exponent.
bool is_unsigned_decimal(const std::string& value) {
    return !value.empty() && value[0] != '+' && value[0] != '-' && decimal_length(value.c_str()) == value.size() &&
           value.find_first_of("eE") == std::string::npos;
}

// Video frame rates written to three decimals stand for the NTSC rates N x 1000/1001.
double exact_ntsc_rate(double rate) {
    for (const double n : {24.0, 30.0, 48.0, 60.0, 120.0}) {
        const double exact = n * 1000.0 / 1001.0;
        if (std::fabs(rate - exact) <= 0.001) return exact;
    }
    return rate;
}

// A frame rate: digits[.digits?] or .digits, or N/D of whole numbers; the whole of
// `length` characters at text, from min_frame_rate to max_frame_rate.
bool read_frame_rate(const char* text, std::size_t length, double& rate) {
    const std::string value(text, length);
    const std::size_t slash = value.find('/');
    if (slash != std::string::npos) {
        const std::string numerator = value.substr(0, slash);
        const std::string denominator = value.substr(slash + 1);
        if (numerator.empty() || denominator.empty() || count_digits(numerator.c_str()) != numerator.size() ||
            count_digits(denominator.c_str()) != denominator.size()) {
            return false;
        }
        const double d = std::strtod(denominator.c_str(), nullptr);
        if (!(d > 0.0)) return false;
        rate = std::strtod(numerator.c_str(), nullptr) / d;
    } else {
        if (!is_unsigned_decimal(value)) return false;
        rate = exact_ntsc_rate(std::strtod(value.c_str(), nullptr));
    }
    return rate >= min_frame_rate && rate <= max_frame_rate;
}

// from:to, each a frame rate.
bool read_rate_change(const char* text, RateChange& rate) {
    const char* colon = std::strchr(text, ':');
    if (colon == nullptr || colon == text) return false;
    return read_frame_rate(text, static_cast<std::size_t>(colon - text), rate.from) &&
           read_frame_rate(colon + 1, std::strlen(colon + 1), rate.to);
}

// A time of an edit list: an unsigned decimal number of seconds or a clock time, the
// whole of `length` characters at text, below max_edit_seconds.
bool read_edit_time(const char* text, std::size_t length, double& seconds) {
    const std::string value(text, length);
    if (value.find(':') != std::string::npos) {
        if (!read_clock_time(value.c_str(), seconds)) return false;
    } else if (is_unsigned_decimal(value)) {
        seconds = std::strtod(value.c_str(), nullptr);
    } else {
        return false;
    }
    return seconds < max_edit_seconds;
}

// Items separated by commas: A-B (a cut; B empty: to the end, the last item) or A+D
// (D seconds of silence at A), in order on the values as typed, a cut's A below its B.
bool read_edit_list(const char* text, EditList& list) {
    list.clear();
    double earliest = 0.0;  // where the next item may start: the last one's end
    for (const char* item = text;;) {
        const char* comma = std::strchr(item, ',');
        const std::size_t length = comma != nullptr ? static_cast<std::size_t>(comma - item) : std::strlen(item);
        const std::size_t mark = std::string(item, length).find_first_of("-+");
        if (mark == std::string::npos) return false;
        EditItem edit;
        edit.cut = item[mark] == '-';
        const char* rest = item + mark + 1;
        const std::size_t rest_length = length - mark - 1;
        if (!read_edit_time(item, mark, edit.at)) return false;
        if (!edit.cut) {
            if (!read_edit_time(rest, rest_length, edit.seconds)) return false;
            edit.end = edit.at;
        } else if (rest_length == 0) {
            if (comma != nullptr) return false;  // a cut to the end is the last item
            edit.end = std::numeric_limits<double>::infinity();
        } else if (!read_edit_time(rest, rest_length, edit.end) || !(edit.at < edit.end)) {
            return false;
        }
        if (edit.at < earliest) return false;
        earliest = edit.end;
        list.push_back(edit);
        if (comma == nullptr) return true;
        item = comma + 1;
    }
}

// ---- how each option's value is read into the options
bool take_target(const char* value, RunOptions& options) {
    double seconds = 0.0;
    if (!read_target(value, seconds)) return false;
    options.target_seconds = seconds;
    return true;
}

bool take_output(const char* value, RunOptions& options) {
    options.output_path = value;
    return true;
}

bool take_rate_change(const char* value, RunOptions& options) {
    RateChange rate;
    if (!read_rate_change(value, rate)) return false;
    options.rate = rate;
    return true;
}

bool take_delay(const char* value, RunOptions& options) {
    double delay_ms = 0.0;
    if (!read_delay(value, delay_ms)) return false;
    options.delay_ms = delay_ms;
    return true;
}

bool take_keep_timeline(const char*, RunOptions& options) {
    options.keep_timeline = true;
    return true;
}

bool take_edit_list(const char* value, RunOptions& options) {
    EditList list;
    if (!read_edit_list(value, list)) return false;
    options.edits = list;
    return true;
}

struct OptionRow {
    char letter;
    const char* value_name;  // as the synopsis names the value; nullptr: the option takes none
    bool (*take)(const char* value, RunOptions& options);
    char alternative_to;  // the letter of an option this one replaces, or 0
    const char* usage_line;
};

// The options in the order the usage text explains them. The synopsis names them in
// that order, an alternative beside the option it replaces, and the output file last,
// next to the input.
constexpr OptionRow option_rows[] = {
    {'t', "targetsec", take_target, 0, "          -t targetsec\tScale audio to targetsec number of seconds."},
    {'o', "outfile", take_output, 0,
     "          -o outfile\tOutputs complete frames from infile to outfile scaled to targetsec if specified."},
    {'r', "from:to", take_rate_change, 't',
     "          -r from:to\tScale audio for a change of frame rate, from and to in frames per second."},
    {'d', "delayms", take_delay, 0,
     "          -d delayms\tDelay audio by delayms milliseconds with silent frames at the start, or advance it if "
     "negative."},
    {'k', nullptr, take_keep_timeline, 0,
     "          -k\t\tKeep the timeline: silent frames take the place of damaged ones."},
    {'e', "editlist", take_edit_list, 0,
     "          -e editlist\tCut from-to or put in at+seconds of silence, e.g. 10:00-12:30,30:00+2."},
};
constexpr char output_letter = 'o';

const OptionRow* option_row(char letter) {
    for (const OptionRow& row : option_rows) {
        if (row.letter == letter) return &row;
    }
    return nullptr;
}

// Arguments of a command line that gives every option that can go together, each with
// its value, and the input.
constexpr int max_arguments = [] {
    int count = 1;
    for (const OptionRow& row : option_rows) {
        if (row.alternative_to == 0) count += row.value_name != nullptr ? 2 : 1;
    }
    return count;
}();

// "-t targetsec", or "-k" for an option without a value.
std::string option_synopsis(const OptionRow& row) {
    std::string text = std::string("-") + row.letter;
    if (row.value_name != nullptr) text += std::string(" ") + row.value_name;
    return text;
}

// "[-t targetsec | -r from:to] [-d delayms] [-o outfile]"
std::string options_synopsis() {
    std::string text;
    const auto add = [&text](const OptionRow& row) {
        text += " [" + option_synopsis(row);
        for (const OptionRow& other : option_rows) {
            if (other.alternative_to == row.letter) text += " | " + option_synopsis(other);
        }
        text += "]";
    };
    for (const OptionRow& row : option_rows) {
        if (row.alternative_to == 0 && row.letter != output_letter) add(row);
    }
    add(*option_row(output_letter));
    return text;
}

}  // namespace

bool parse_arguments(int argc, const char* const* argv, RunOptions& options) {
    if (argc < 2 || argc - 1 > max_arguments) return false;
    std::string given;  // the letters of the options given
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (!is_option(argument)) {
            options.input_path = argument;
            continue;
        }
        const OptionRow* row = argument[1] == '\0' ? nullptr : option_row(argument[1]);
        if (row == nullptr) return false;
        const char* value = nullptr;
        if (row->value_name != nullptr) {
            if (i + 1 >= argc) return false;  // the option's value is missing
            value = argv[++i];
        }
        if (!row->take(value, options)) return false;
        given += row->letter;
    }
    // Two options that would each set the same thing, the length say, are no command.
    for (const OptionRow& row : option_rows) {
        if (row.alternative_to != 0 && given.find(row.letter) != std::string::npos &&
            given.find(row.alternative_to) != std::string::npos) {
            return false;
        }
    }
    return true;
}

void print_usage(const char* format_tag) {
    std::printf("Usage: %slenfit%s infile\n", format_tag, options_synopsis().c_str());
    std::printf("%slenfit: Scale %s audio to given number of seconds with duplicated or "
                "dropped frames.\n",
                format_tag, format_tag);
    std::puts("          Outputs estimates for infile if -o option is not given");
    for (const OptionRow& row : option_rows) std::puts(row.usage_line);
}

}  // namespace lenfit
