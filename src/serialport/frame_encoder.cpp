// Whether a frame format can be used, and the bytes of one frame
// (frame_codec_p.h).
#include <string>

#include "frame_bytes_p.h"
#include "frame_codec_p.h"

namespace tarn::serialport {

namespace {

std::string Count(std::size_t count, const char* unit) {
    return std::to_string(count) + " " + unit + (count == 1 ? "" : "s");
}

const char* FieldName(TFrameLengthField field) {
    switch (field) {
        case lf8Bit:
            return "an 8-bit";
        case lf16BitBE:
        case lf16BitLE:
            return "a 16-bit";
        case lf32BitBE:
        case lf32BitLE:
            break;
    }
    return "a 32-bit";
}

// The delimiter must first be found where it was put: not inside the
// payload, nor begun by the payload's end, as with "x\r\n" before
// "\r\n\r\n", where the frame would end two bytes early.
std::string DelimiterProblem(const std::string& framed, const std::string& delimiter,
                             std::size_t payloadSize) {
    const std::size_t found = framed.find(delimiter);
    if (found == payloadSize) return {};
    if (found + delimiter.size() <= payloadSize) return "The payload holds the frame delimiter";
    return "The payload ends with the start of the frame delimiter, which would end it early";
}

std::string PayloadProblem(const TFrameFormat& format, std::string_view payload) {
    if (format.framing == frNone) return {};
    if (payload.size() > format.maxFrameLength) {
        return "The payload of " + Count(payload.size(), "byte") +
               " is longer than the maximum frame length of " +
               Count(format.maxFrameLength, "byte");
    }
    switch (format.framing) {
        case frFixedLength:
            if (payload.size() == format.fixedLength) return {};
            return "The payload of " + Count(payload.size(), "byte") +
                   " is not as long as a frame of fixed length, " +
                   Count(format.fixedLength, "byte");
        case frSlip:
            // The other end takes END END for the gap between two frames,
            // so it would never see this one.
            if (!payload.empty()) return {};
            return "An empty frame cannot be sent with SLIP framing";
        case frLengthPrefixed:
            if (payload.size() <= frame_bytes::LengthFieldLimit(format.lengthField)) return {};
            return "The payload of " + Count(payload.size(), "byte") + " does not fit " +
                   FieldName(format.lengthField) + " length field";
        default:
            return {};
    }
}

}  // namespace

std::string FrameFormatProblem(const TFrameFormat& format) {
    if (format.framing > frSilence) return "The framing is not one of the known kinds";
    if (format.maxFrameLength == 0) return "The maximum frame length is 0; it must be at least 1";
    switch (format.framing) {
        case frDelimiter:
            if (format.delimiter.empty()) return "The frame delimiter is empty";
            break;
        case frFixedLength:
            if (format.fixedLength == 0)
                return "The fixed frame length is 0; it must be at least 1";
            if (format.fixedLength > format.maxFrameLength) {
                return "The fixed frame length of " + Count(format.fixedLength, "byte") +
                       " is above the maximum frame length of " +
                       Count(format.maxFrameLength, "byte");
            }
            break;
        case frLengthPrefixed:
            if (format.lengthField > lf32BitLE) {
                return "The frame length field is not one of the known kinds";
            }
            break;
        default:
            break;
    }
    return {};
}

std::string EncodeFrame(const TFrameFormat& format, std::string_view payload,
                        std::string& problem) {
    problem = PayloadProblem(format, payload);
    if (!problem.empty()) return {};
    std::string frame;
    switch (format.framing) {
        case frDelimiter:
            frame.reserve(payload.size() + format.delimiter.size());
            frame.append(payload);
            frame += format.delimiter;
            problem = DelimiterProblem(frame, format.delimiter, payload.size());
            if (!problem.empty()) return {};
            break;
        case frLengthPrefixed:
            frame.reserve(payload.size() + 4);
            frame_bytes::AppendLengthField(format.lengthField,
                                           static_cast<std::uint32_t>(payload.size()), frame);
            frame.append(payload);
            break;
        case frSlip:
            frame.reserve(payload.size() + payload.size() / 8 + 2);
            frame.push_back(static_cast<char>(frame_bytes::kSlipEnd));
            frame_bytes::AppendSlipEscaped(payload, frame);
            frame.push_back(static_cast<char>(frame_bytes::kSlipEnd));
            break;
        case frCobs:
            frame.reserve(payload.size() + payload.size() / 254 + 2);
            frame_bytes::AppendCobsEncoded(payload, frame);
            frame.push_back('\0');
            break;
        default:
            frame.assign(payload);
            break;
    }
    return frame;
}

}  // namespace tarn::serialport
