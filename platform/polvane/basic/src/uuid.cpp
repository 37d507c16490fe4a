#include "polvane/basic/uuid.h"

#include <random>

#include "polvane/basic/polvane_exception.h"

namespace orvex {
namespace {

// One generator per thread: identifiers are made from many threads and must not share state.
std::mt19937_64& generator() {
    thread_local std::mt19937_64 engine{[] {
        std::random_device device;
        std::seed_seq seeds{device(), device(), device(), device(), device(), device()};
        return std::mt19937_64{seeds};
    }()};
    return engine;
}

int hex_digit_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool is_dash_position(std::size_t position) {
    return position == 8 || position == 13 || position == 18 || position == 23;
}

}  // namespace

uuid::uuid() {
    auto& engine = generator();
    const std::uint64_t high = engine();
    const std::uint64_t low = engine();
    for (std::size_t i = 0; i < 8; ++i) {
        bytes_[i] = static_cast<std::uint8_t>(high >> (56 - 8 * i));
        bytes_[8 + i] = static_cast<std::uint8_t>(low >> (56 - 8 * i));
    }
    bytes_[6] = static_cast<std::uint8_t>((bytes_[6] & 0x0F) | 0x40);
    bytes_[8] = static_cast<std::uint8_t>((bytes_[8] & 0x3F) | 0x80);
}

uuid::uuid(absl::string_view text) {
    if (text.size() != 36) {
        throw PolvaneException{"[uuid] Cannot parse \"", text, "\": expected 36 characters"};
    }
    std::size_t byte = 0;
    for (std::size_t position = 0; position < text.size();) {
        if (is_dash_position(position)) {
            if (text[position] != '-') {
                throw PolvaneException{"[uuid] Cannot parse \"", text, "\": expected '-' at ",
                                       position};
            }
            ++position;
            continue;
        }
        const int high = hex_digit_value(text[position]);
        const int low = hex_digit_value(text[position + 1]);
        if (high < 0 || low < 0 || is_dash_position(position + 1)) {
            throw PolvaneException{"[uuid] Cannot parse \"", text,
                                   "\": expected a hexadecimal digit at ", position};
        }
        bytes_[byte++] = static_cast<std::uint8_t>(high * 16 + low);
        position += 2;
    }
}

std::string uuid::string() const {
    static constexpr char digits[] = "0123456789abcdef";
    std::string result;
    result.reserve(36);
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            result.push_back('-');
        }
        result.push_back(digits[bytes_[i] >> 4]);
        result.push_back(digits[bytes_[i] & 0x0F]);
    }
    return result;
}

}  // namespace orvex
