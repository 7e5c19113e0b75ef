#include "Dc09Message.h"

#include <QRandomGenerator>
#include <QTimeZone>

#include <openssl/evp.h>

#include <memory>

namespace tulmo {

namespace {

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// n hexadecimal digits at from, or -1.
int hexField(const QByteArray &b, qsizetype from, int n) {
    if (from + n > b.size()) return -1;
    int v = 0;
    for (int i = 0; i < n; ++i) {
        const char c = b.at(from + i);
        if (!isHex(c)) return -1;
        v = v * 16 + (c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    return v;
}

// An optional letter followed by up to maxLen characters accepted by ok, none included
// (panels send a bare "L"); *out stays null when the letter is absent.
template <typename Ok>
void field(const QByteArray &b, qsizetype &pos, char letter, int maxLen, Ok ok, QString *out) {
    if (pos >= b.size() || b.at(pos) != letter) return;
    qsizetype end = pos + 1;
    while (end < b.size() && end - pos - 1 < maxLen && ok(b.at(end)))
        ++end;
    *out = QString::fromLatin1(b.mid(pos + 1, end - pos - 1));
    pos = end;
}

// No control characters; bytes above 0x7F are text of the panel's own character set (a
// zone's name between "^"), taken as Latin-1.
bool printable(const QByteArray &b) {
    for (char c : b)
        if (uchar(c) < 0x20 || c == 0x7F) return false;
    return true;
}

// The "]" that closes a block, past any text between "^" (which may hold any character);
// -1 when there is none.
qsizetype closing(const QByteArray &b, qsizetype from) {
    bool text = false;
    for (qsizetype i = from; i < b.size(); ++i) {
        if (b.at(i) == '^') text = !text;
        else if (!text && b.at(i) == ']') return i;
        else if (!text && b.at(i) == '[') return -1;
    }
    return -1;
}

using Status = Dc09Codec::Status;

// Data, extended data and timestamp after the opening "[": "data]" "[x]"… "_timestamp".
Status readBlocks(const QByteArray &rest, Dc09Message *m, bool *hasStamp) {
    *hasStamp = false;
    qsizetype close = closing(rest, 0);
    if (close < 0) return Status::BadData;
    m->data = QString::fromLatin1(rest.left(close));
    qsizetype pos = close + 1;
    while (pos < rest.size() && rest.at(pos) == '[') {
        close = closing(rest, pos + 1);
        if (close < 0) return Status::BadData;
        m->extended << QString::fromLatin1(rest.mid(pos + 1, close - pos - 1));
        pos = close + 1;
    }
    if (pos == rest.size()) return Status::Ok;
    if (rest.at(pos) != '_') return Status::BadData;
    *hasStamp = true;
    m->timestamp = Dc09Codec::parseTimestamp(QString::fromLatin1(rest.mid(pos + 1)));
    return m->timestamp.isValid() ? Status::Ok : Status::BadTimestamp;
}

// The body of a frame in whichever of its forms the length and CRC fit: four hex digits of
// CRC, or two bytes of it, and a length that counts the closing <CR> or not.
Status locateBody(const QByteArray &f, QByteArray *body, Dc09Message::CrcForm *form) {
    using F = Dc09Message::CrcForm;
    const int hexLength = f.at(5) == '0' ? hexField(f, 6, 3) : -1;
    const int binLength = f.at(3) == '0' ? hexField(f, 4, 3) : -1;
    struct Candidate { F form; int length; qsizetype from; qsizetype bodySize; int crc; };
    const Candidate candidates[] = {
        {F::Hex, hexLength, 9, f.size() - 10, hexField(f, 1, 4)},
        {F::HexCountingCr, hexLength, 9, f.size() - 10, hexField(f, 1, 4)},
        {F::Binary, binLength, 7, f.size() - 8, (uchar(f.at(1)) << 8) | uchar(f.at(2))},
    };
    Status status = Status::BadLength;
    for (const Candidate &c : candidates) {
        const bool countsCr = c.form == F::HexCountingCr;
        if (c.length < 0 || c.length != c.bodySize + (countsCr ? 1 : 0)) continue;
        const QByteArray covered = f.mid(c.from, c.length);
        if (c.crc < 0 || quint16(c.crc) != Dc09Codec::crc16(covered)) {
            status = Status::BadCrc;
            continue;
        }
        *body = countsCr ? covered.chopped(1) : covered;
        *form = c.form;
        return Status::Ok;
    }
    return status;
}

// The header of an answer: the message's own sequence, receiver, line and account, as it
// sent them ("0000" when its sequence could not be read).
QByteArray header(const QString &token, const Dc09Message &m) {
    QByteArray b = '"' + token.toLatin1() + '"' +
                   (m.sequence.isEmpty() ? QByteArray("0000") : m.sequence.toLatin1());
    if (!m.receiver.isNull()) b += 'R' + m.receiver.toLatin1();
    if (!m.linePrefix.isNull()) b += 'L' + m.linePrefix.toLatin1();
    if (!m.account.isNull()) b += '#' + m.account.toLatin1();
    return b + '[';
}

// "ID" token, sequence, optional receiver, line and account, up to the "[" that opens the
// data; *pos then lies after it.
Status readHeader(const QByteArray &body, Dc09Message *m, qsizetype *pos) {
    if (body.isEmpty() || body.front() != '"') return Status::BadHeader;
    const qsizetype quote = body.indexOf('"', 1);
    if (quote < 2 || quote > 32) return Status::BadHeader;
    const QString token = QString::fromLatin1(body.mid(1, quote - 1));
    m->encrypted = token.startsWith(QLatin1Char('*'));
    m->token = m->encrypted ? token.mid(1) : token;
    static const QStringList kResponses = {QStringLiteral("ACK"), QStringLiteral("NAK"),
                                           QStringLiteral("DUH"), QStringLiteral("RSP")};
    if (kResponses.contains(m->token)) return Status::Response;
    qsizetype p = quote + 1;
    const QByteArray seq = body.mid(p, 4);
    if (seq.size() < 4) return Status::BadHeader;
    for (char c : seq)
        if (c < '0' || c > '9') return Status::BadHeader;
    m->sequence = QString::fromLatin1(seq);
    p += 4;
    field(body, p, 'R', 16, isHex, &m->receiver);
    field(body, p, 'L', 16, isHex, &m->linePrefix);
    field(body, p, '#', 16, isHex, &m->account);
    if ((!m->account.isNull() && m->account.isEmpty()) || p >= body.size() || body.at(p) != '[')
        return Status::BadHeader;
    *pos = p + 1;
    return Status::Ok;
}

// Random pad characters before "|", so the encrypted text fills whole AES blocks; the pad
// never holds the characters that delimit the data.
QByteArray padded(const QByteArray &content) {
    const qsizetype pad = 16 - (content.size() + 1) % 16;
    QByteArray b;
    b.reserve(content.size() + 1 + pad);
    while (b.size() < pad) {
        const char c = char(QRandomGenerator::global()->bounded(0x21, 0x7F));
        if (c != '[' && c != ']' && c != '|') b += c;
    }
    return b + '|' + content;
}

QByteArray encryptedBlocks(const QByteArray &content, const QByteArray &key) {
    return Dc09Codec::aesCbc(padded(content), key, true).toHex().toUpper();
}

} // namespace

quint16 Dc09Codec::crc16(const QByteArray &bytes) {
    quint16 crc = 0;
    for (const char ch : bytes) {
        crc ^= quint8(ch);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0xA001) : quint16(crc >> 1);
    }
    return crc;
}

QString Dc09Codec::timestampText(const QDateTime &t) {
    return t.toUTC().toString(QStringLiteral("HH:mm:ss,MM-dd-yyyy"));
}

QDateTime Dc09Codec::parseTimestamp(const QString &text) {
    if (text.size() != 19) return QDateTime();
    QDateTime t = QDateTime::fromString(text, QStringLiteral("HH:mm:ss,MM-dd-yyyy"));
    if (!t.isValid()) return QDateTime();
    t.setTimeSpec(Qt::UTC);
    return t;
}

bool Dc09Codec::withinWindow(const QDateTime &t, const QDateTime &now) {
    const qint64 ahead = now.secsTo(t);
    return ahead <= kWindowAheadSecs && ahead >= -kWindowBehindSecs;
}

QByteArray Dc09Codec::frame(const QByteArray &body, Dc09Message::CrcForm form) {
    using F = Dc09Message::CrcForm;
    const quint16 crc = crc16(form == F::HexCountingCr ? body + '\r' : body);
    const qsizetype length = body.size() + (form == F::HexCountingCr ? 1 : 0);
    const QByteArray crcText = form == F::Binary
                                   ? QByteArray(1, char(crc >> 8)) + char(crc & 0xFF)
                                   : QByteArray::number(crc, 16).toUpper().rightJustified(4, '0');
    return '\n' + crcText + QByteArray::number(length, 16).toUpper().rightJustified(4, '0') +
           body + '\r';
}

Dc09Codec::Status Dc09Codec::decode(const QByteArray &f, const KeyLookup &keys, Dc09Message *m) {
    *m = Dc09Message();
    if (f.size() < kFrameOverhead + 1 || f.front() != '\n' || f.back() != '\r')
        return Status::NotDc09;
    QByteArray body;
    if (const Status s = locateBody(f, &body, &m->crcForm); s != Status::Ok) return s;
    qsizetype pos = 0;
    if (const Status s = readHeader(body, m, &pos); s != Status::Ok) return s;
    const QByteArray rest = body.mid(pos);

    static const QStringList kTokens = {QStringLiteral("ADM-CID"), QStringLiteral("SIA-DCS"),
                                        QStringLiteral("NULL")};
    if (!kTokens.contains(m->token)) return Status::Unsupported;

    bool hasStamp = false;
    if (!m->encrypted) {
        if (!printable(rest)) return Status::BadData;
        return readBlocks(rest, m, &hasStamp);
    }
    const QByteArray key = keys && !m->account.isEmpty() ? keys(m->account) : QByteArray();
    if (key.isEmpty()) return Status::NoKey;
    // Some senders close the encrypted text with "]".
    const QByteArray hex = rest.endsWith(']') ? rest.chopped(1) : rest;
    if (hex.isEmpty() || hex.size() % 32 != 0) return Status::Undecryptable;
    for (char c : hex)
        if (!isHex(c)) return Status::Undecryptable;
    const QByteArray plain = aesCbc(QByteArray::fromHex(hex), key, false);
    if (plain.isEmpty() || !printable(plain)) return Status::Undecryptable;
    // The pad ends at the first "|"; a pad directly followed by "]" is an empty data block.
    const qsizetype bar = plain.indexOf('|');
    const qsizetype close = plain.indexOf(']');
    if (close < 0) return Status::Undecryptable;
    const QByteArray content = bar >= 0 && bar < close ? plain.mid(bar + 1) : plain.mid(close);
    if (readBlocks(content, m, &hasStamp) != Status::Ok) return Status::Undecryptable;
    if (!hasStamp) return Status::NoTimestamp;
    return Status::Ok;
}

QByteArray Dc09Codec::ack(const Dc09Message &m, const QByteArray &key, const QDateTime &now) {
    if (!m.encrypted || key.isEmpty())
        return frame(header(QStringLiteral("ACK"), m) + ']', m.crcForm);
    return frame(header(QStringLiteral("*ACK"), m) +
                     encryptedBlocks("]_" + timestampText(now).toLatin1(), key),
                 m.crcForm);
}

QByteArray Dc09Codec::nak(const QDateTime &now, Dc09Message::CrcForm form) {
    return frame("\"NAK\"0000R0L0A0[]_" + timestampText(now).toLatin1(), form);
}

QByteArray Dc09Codec::duh(const Dc09Message &m) {
    return frame(header(QStringLiteral("DUH"), m) + ']', m.crcForm);
}

QByteArray Dc09Codec::build(const Dc09Message &m, const QByteArray &key) {
    QByteArray blocks = m.data.toLatin1() + ']';
    for (const QString &x : m.extended)
        blocks += '[' + x.toLatin1() + ']';
    if (m.timestamp.isValid()) blocks += '_' + timestampText(m.timestamp).toLatin1();
    if (key.isEmpty()) return frame(header(m.token, m) + blocks, m.crcForm);
    return frame(header(QLatin1Char('*') + m.token, m) + encryptedBlocks(blocks, key), m.crcForm);
}

QByteArray Dc09Codec::aesCbc(const QByteArray &text, const QByteArray &key, bool encrypt) {
    const EVP_CIPHER *cipher = key.size() == 16   ? EVP_aes_128_cbc()
                               : key.size() == 24 ? EVP_aes_192_cbc()
                               : key.size() == 32 ? EVP_aes_256_cbc()
                                                  : nullptr;
    if (!cipher || text.isEmpty() || text.size() % 16 != 0) return QByteArray();
    const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(
        EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    const unsigned char iv[16] = {};
    if (!ctx || EVP_CipherInit_ex(ctx.get(), cipher, nullptr,
                                  reinterpret_cast<const unsigned char *>(key.constData()), iv,
                                  encrypt ? 1 : 0) != 1)
        return QByteArray();
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    QByteArray out(text.size() + 16, '\0');
    int n = 0, tail = 0;
    auto *o = reinterpret_cast<unsigned char *>(out.data());
    if (EVP_CipherUpdate(ctx.get(), o, &n, reinterpret_cast<const unsigned char *>(text.constData()),
                         int(text.size())) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), o + n, &tail) != 1)
        return QByteArray();
    out.resize(n + tail);
    return out;
}

QByteArray Dc09Codec::keyFromHex(const QString &hex) {
    const QString h = hex.trimmed();
    if (h.size() != 32 && h.size() != 48 && h.size() != 64) return QByteArray();
    for (QChar c : h)
        if (c.unicode() > 0x7F || !isHex(char(c.unicode()))) return QByteArray();
    return QByteArray::fromHex(h.toLatin1());
}

QString Dc09Codec::statusText(Status s) {
    switch (s) {
    case Status::Ok: return QStringLiteral("ok");
    case Status::NotDc09: return QStringLiteral("não é DC-09");
    case Status::BadLength: return QStringLiteral("comprimento inválido");
    case Status::BadCrc: return QStringLiteral("CRC inválido");
    case Status::Response: return QStringLiteral("resposta de receptora, não respondida");
    case Status::BadHeader: return QStringLiteral("cabeçalho ilegível");
    case Status::Unsupported: return QStringLiteral("tipo de mensagem não suportado");
    case Status::BadData: return QStringLiteral("dados ilegíveis");
    case Status::BadTimestamp: return QStringLiteral("data e hora ilegíveis");
    case Status::NoKey: return QStringLiteral("conta sem chave de criptografia");
    case Status::Undecryptable: return QStringLiteral("criptografia ilegível");
    case Status::NoTimestamp: return QStringLiteral("sem data e hora");
    }
    return QString();
}

} // namespace tulmo
