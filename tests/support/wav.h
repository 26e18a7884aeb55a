// Reading what the player wrote, and what the reference decoder makes of
// the same file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct wav_info {
	bool ok = false;
	unsigned channels = 0, rate = 0, bits = 0;
	uint32_t channel_mask = 0;        // speakers of an extensible format, else 0
	std::vector<unsigned char> data;  // the data chunk (to the end when its size is open)
	std::size_t data_offset = 0;      // where the data starts in the parsed bytes
};

/// Parses one RIFF/WAVE stream from the start of bytes.
wav_info parse_wav(const std::vector<unsigned char> &bytes);
/// Whether a WAV file's header states exactly what it holds: the RIFF size
/// is the file's less 8, the data chunk runs to its end, and that is whole
/// sample frames.
bool wav_states_its_size(const std::vector<unsigned char> &file);

/// Samples as little-endian PCM bytes of the given width (8 bits unsigned).
std::vector<unsigned char> pcm_bytes(const std::vector<int32_t> &samples, unsigned bits);

/// The raw little-endian samples that `flac -d` decodes from a file (8 bits
/// unsigned, as WAV stores them). Empty when the tool fails.
std::vector<unsigned char> flac_reference(const std::string &flac_path, unsigned bits,
					  const std::string &scratch_path);

struct reference_decode {
	bool ok = false;
	std::vector<unsigned char> data;  // as flac_reference gives it
	int errors = 0;                   // decoder errors the tool reported
};

/// What `flac -d -F` (decoding through errors) makes of a damaged file.
reference_decode flac_reference_through_errors(const std::string &flac_path, unsigned bits,
					       const std::string &scratch_path);
