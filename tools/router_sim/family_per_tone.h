// SNR, quiet line noise and Hlog per tone on the other families' line, and
// each family's replies that print them. The values are kept as the routers
// measure them: one code per group of tones and direction in the G.997.1
// encodings (SNR -32 + n/2 dB, QLN -23 - n/2 dBm/Hz, Hlog 6 - m/10 dB), so
// every family's text of one line holds the same numbers.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace routersim {

struct FamilyLine;

enum class Quantity { Snr, Qln, Hlog };

// One direction of one quantity: a code per group of groupSize tones from
// tone 0; NoneCode marks a group the modem did not measure.
struct SpectrumSide {
    int groupSize = 1;
    std::vector<int> codes;
};

struct SpectrumCodes {
    SpectrumSide up, down;
};

// 255 for SNR and QLN, 1023 for Hlog.
int NoneCode(Quantity quantity);
// The code in dB (dBm/Hz for QLN).
double CodeValue(Quantity quantity, int code);
// "snr", "qln", "hlog": the word naming it in the --served file.
const char* QuantityName(Quantity quantity);

// Fills the line's three spectra. A group outside its direction's bands and
// the group holding each band's first tone are not measured; SNR follows the
// bits (low in a notch), moves a little from reading to reading and dips in
// the evening on the middle of the downstream (reading i is taken at minute
// i of the simulated day, from midnight); QLN and Hlog stay as trained.
void AddSpectra(FamilyLine& line, std::uint32_t seed, std::uint32_t index);

// The value of every tone of the line by its band plan; NaN where the tone's
// group was not measured or the tone is in no band.
std::vector<double> ToneValues(const FamilyLine& line, Quantity quantity);

// The same as a Lantiq VR9 measures them: on ADSL2+ its downstream Hlog has
// the first half of the groups only (its pipe prints the first half again
// in the second).
std::vector<double> LantiqToneValues(const FamilyLine& line, Quantity quantity);

// The quantity a spectrum command asks for, whichever family's it is.
std::optional<Quantity> SpectrumCommand(const std::string& command);

// Each family's reply to its spectrum commands; none for other commands.
// Broadcom's is the part after the state block; Lantiq's `pipe` is the
// command without "dsl_cpe_pipe ", and `olderApi` takes the arguments of
// API 2.x ("0 <dir>") instead of "<dir> 1". On 35b its upstream QLN and Hlog
// print half their group size.
std::optional<std::string> BroadcomSpectrumReply(const FamilyLine& line, const std::string& command);
std::optional<std::string> LantiqSpectrumReply(const FamilyLine& line, const std::string& pipe, bool olderApi);
std::optional<std::string> DraytekSpectrumReply(const FamilyLine& line, const std::string& command);

} // namespace routersim
