// The dynamic symbol table of the built libsonara: what callers may look up by name, which
// internal functions stay visible, and which helpers stay local to their units.
//
// One row per name. A row whose name holds "(" matches a whole demangled signature; otherwise it
// matches a function name, qualified or not, with any arguments.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

enum class Expect {
    c_export,  // exported under its plain, unmangled name
    internal,  // present under its mangled C++ name
    absent,    // not in the dynamic symbol table at all
};

struct SymbolRow {
    const char *name;
    Expect expect;
};

const SymbolRow kSymbols[] = {
    // Every function of sonara.h.
    {"voice_session_init", Expect::c_export},
    {"voice_session_init_from_memory", Expect::c_export},
    {"v_create_session", Expect::c_export},
    {"v_create_session_from_memory", Expect::c_export},
    {"v_create_session_with_log", Expect::c_export},
    {"v_session_configuration_version", Expect::c_export},
    {"v_session_configuration_hash", Expect::c_export},
    {"v_result_session", Expect::c_export},
    {"voice_session_destroy", Expect::c_export},
    {"v_destroy_session", Expect::c_export},
    {"v_enable_property", Expect::c_export},
    {"v_dbg_set_property", Expect::c_export},
    {"v_check", Expect::c_export},
    {"v_check_all", Expect::c_export},
    {"v_check_reader", Expect::c_export},
    {"v_check_fd", Expect::c_export},
    {"v_read_format", Expect::c_export},
    {"v_session_limit", Expect::c_export},
    {"v_set_details", Expect::c_export},
    {"v_details_session", Expect::c_export},
    // Internal functions and methods, visible under their mangled names.
    {"check_valid_session(Session*)", Expect::internal},
    {"voice_session_init(Session*, char const*, bool)", Expect::internal},
    {"PrivateSession::read_configuration", Expect::internal},
    {"PrivateSession::set_version", Expect::internal},
    {"PrivateSession::set_configuration_hash", Expect::internal},
    {"PrivateSession::set_number", Expect::internal},
    {"PrivateSession::set_range", Expect::internal},
    {"PrivateSession::init_result", Expect::internal},
    {"PrivateSessionConfiguration::~PrivateSessionConfiguration", Expect::internal},
    {"PrivateSessionConfiguration::check_required_properties", Expect::internal},
    {"PrivateSessionConfiguration::is_valid_result(IntValue const&, SessionValue&)", Expect::internal},
    {"PrivateSessionConfiguration::is_valid_result(SingleIntValue const&, SessionValue&)", Expect::internal},
    {"PrivateSessionConfiguration::is_valid_result(SingleFloatValue const&, SessionValue&, bool)",
     Expect::internal},
    {"PrivateSessionConfiguration::try_set_result(IntValue const&, SessionValue&, double)", Expect::internal},
    {"PrivateSessionConfiguration::try_set_result(SingleIntValue const&, SessionValue&, double)",
     Expect::internal},
    {"PrivateSessionConfiguration::try_set_result(SingleFloatValue const&, SessionValue&, double, bool)",
     Expect::internal},
    {"PrivateSessionConfiguration::try_set_length_result", Expect::internal},
    {"PrivateSessionConfiguration::try_set_duration_result", Expect::internal},
    {"PrivateSessionConfiguration::try_set_depth_result", Expect::internal},
    {"PrivateSessionConfiguration::try_set_channels_result", Expect::internal},
    {"PrivateSessionConfiguration::try_set_sample_rate_result", Expect::internal},
    {"PrivateSessionConfiguration::try_set_telephony_border_result", Expect::internal},
    {"PrivateSessionConfiguration::try_set_overload_border_result", Expect::internal},
    {"PrivateSessionConfiguration::try_set_voice_duration_result", Expect::internal},
    {"PrivateSessionConfiguration::record_voice_duration_result", Expect::internal},
    {"PrivateSessionConfiguration::try_set_signal_noise_results", Expect::internal},
    {"PrivateSessionConfiguration::record_signal_noise_results", Expect::internal},
    {"PrivateSessionConfiguration::set_signal_noise_results", Expect::internal},
    {"get_filtered_duration(Head*, Unpack*)", Expect::internal},
    {"read_signal_noise(Head*, Unpack*)", Expect::internal},
    {"create_hist(double, double const*, unsigned long, unsigned long*, unsigned long)", Expect::internal},
    {"estimate_clipping_coefficient(double const*, unsigned long)", Expect::internal},
    {"get_overloading_value(Unpack const*)", Expect::internal},
    {"get_telephony_border(Head const*, Unpack const*)", Expect::internal},
    {"read_head(unsigned char const*, unsigned long, Head*)", Expect::internal},
    {"read_head_from(HeadBytes&, unsigned long, Head*, unsigned long*)", Expect::internal},
    {"read_head_quietly(unsigned char const*, unsigned long, Head*, unsigned long*, bool*)", Expect::internal},
    {"copy_head(Head*, Head const*)", Expect::internal},
    {"read_unpack(Head const*, Unpack*)", Expect::internal},
    {"free_unpack(Unpack*)", Expect::internal},
    {"copy_unpack(Unpack*, Unpack const*)", Expect::internal},
    // The resampler and its helpers stay local to sound.cpp.
    {"resample_payload", Expect::absent},
    {"resampled_length", Expect::absent},
    {"get_root_mean_square", Expect::absent},
    // The reader-based check's file and descriptor reader stay local to their unit.
    {"read_descriptor", Expect::absent},
    // The configuration callbacks stay local to their unit.
    {"read_number", Expect::absent},
    {"read_range", Expect::absent},
    {"read_version", Expect::absent},
    {"configuration_hash", Expect::absent},
    // The voice-activity layer is linked in privately.
    {"fvad_new", Expect::absent},
    {"fvad_free", Expect::absent},
    {"fvad_set_mode", Expect::absent},
    {"fvad_set_sample_rate", Expect::absent},
    {"fvad_process", Expect::absent},
};

std::set<std::string> dynamic_symbols(bool demangle) {
    std::set<std::string> symbols;
    const std::string command = std::string("nm -D --defined-only ") + (demangle ? "-C " : "") +
                                "'" SONARA_LIBRARY_PATH "'";
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return symbols;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        // "<address> <type> <symbol>"
        std::string text(line);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        const size_t type = text.find(' ');
        if (type == std::string::npos || type + 3 > text.size()) continue;
        symbols.insert(text.substr(type + 3));
    }
    pclose(pipe);
    return symbols;
}

// The function name of a demangled symbol, without its arguments.
std::string function_name(const std::string &symbol) {
    return symbol.substr(0, symbol.find('('));
}

bool matches(const std::string &symbol, const std::string &row) {
    if (row.find('(') != std::string::npos) return symbol == row;
    const std::string name = function_name(symbol);
    if (name == row) return true;
    const std::string qualified = "::" + row;
    return name.size() > qualified.size() &&
           name.compare(name.size() - qualified.size(), qualified.size(), qualified) == 0;
}

TEST(Symbols, DynamicTableMatchesTheTable) {
    const std::set<std::string> raw = dynamic_symbols(false);
    const std::set<std::string> demangled = dynamic_symbols(true);
    ASSERT_FALSE(raw.empty()) << "nm gave nothing for " SONARA_LIBRARY_PATH;

    for (const SymbolRow &row : kSymbols) {
        SCOPED_TRACE(row.name);
        bool found_demangled = false;
        for (const std::string &symbol : demangled) {
            if (matches(symbol, row.name)) found_demangled = true;
        }
        switch (row.expect) {
        case Expect::c_export:
            EXPECT_EQ(raw.count(row.name), 1u) << "not exported under its plain name";
            break;
        case Expect::internal:
            EXPECT_TRUE(found_demangled) << "not in the dynamic table";
            break;
        case Expect::absent:
            EXPECT_FALSE(found_demangled) << "should be local to its unit";
            EXPECT_EQ(raw.count(row.name), 0u);
            break;
        }
    }
}

}  // namespace
