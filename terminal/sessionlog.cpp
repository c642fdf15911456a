// SPDX-License-Identifier: MIT
#include "sessionlog.h"

#include <QDateTime>

#include <cstring>

namespace {

// Big enough that a flood costs few system calls, small enough to lose little.
constexpr qsizetype BufferBytes = 256 * 1024;
constexpr int FlushMs = 1000;

// Whether the file at `path` has text whose last line is not ended, so that
// what is appended would run on from it.
bool endsMidLine(const QString &path)
{
    QFile existing(path);
    if (!existing.open(QIODevice::ReadOnly) || existing.isSequential() || existing.size() <= 0
        || !existing.seek(existing.size() - 1))
        return false;
    char last = '\n';
    return existing.getChar(&last) && last != '\n';
}

} // namespace

std::unique_ptr<SessionLog> SessionLog::open(const Files &files, const QString &source, QString *error)
{
    std::unique_ptr<SessionLog> log(new SessionLog);
    log->m_timestamps = files.timestamps;
    const bool textMidLine = !files.text.isEmpty() && endsMidLine(files.text);
    if (!log->openSink(log->m_text, files.text, error) || !log->openSink(log->m_raw, files.raw, error))
        return nullptr;
    if (log->m_text.on) {
        // A session appended to an earlier one starts on a line of its own.
        const QString header = QStringLiteral("%1modemterm %2: dziennik sesji, %3, otwarty %4\n")
                                   .arg(textMidLine ? QStringLiteral("\n") : QString(),
                                        QStringLiteral(MODEMTERM_VERSION), source,
                                        timestamp(QDateTime::currentMSecsSinceEpoch()).trimmed());
        log->append(log->m_text, header.toUtf8());
    }
    log->m_flushTimer.setSingleShot(true);
    log->m_flushTimer.setInterval(FlushMs);
    connect(&log->m_flushTimer, &QTimer::timeout, log.get(), &SessionLog::flush);
    return log;
}

SessionLog::~SessionLog()
{
    flushAll(false);
}

bool SessionLog::openSink(Sink &sink, const QString &path, QString *error)
{
    if (path.isEmpty())
        return true;
    sink.file.setFileName(path);
    // Unbuffered: the buffer here is the only one, so a flush reaches the system.
    if (!sink.file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        if (error)
            *error = QStringLiteral("nie mogę otworzyć dziennika „%1”: %2").arg(path, sink.file.errorString());
        return false;
    }
    sink.buffer.resize(BufferBytes);
    sink.on = true;
    return true;
}

QString SessionLog::timestamp(qint64 msecsSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz "));
}

void SessionLog::received(QByteArrayView bytes, QStringView text)
{
    if (m_raw.on)
        append(m_raw, bytes);
    if (m_text.on)
        appendText(text);
    if (!m_flushTimer.isActive() && (m_raw.used > 0 || m_text.used > 0))
        m_flushTimer.start();
}

void SessionLog::note(QStringView line)
{
    if (!m_text.on)
        return;
    if (!m_atLineStart)
        appendText(u"\n");
    appendText(line);
    appendText(u"\n");
    if (!m_flushTimer.isActive())
        m_flushTimer.start();
}

void SessionLog::appendText(QStringView text)
{
    if (!m_timestamps) {
        appendUtf8(text);
        if (!text.isEmpty())
            m_atLineStart = text.back() == u'\n';
        return;
    }
    // Every line that starts in this chunk started now.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    qsizetype from = 0;
    while (from < text.size() && m_text.on) {
        if (m_atLineStart) {
            if (now != m_stampMsecs) {
                m_stampMsecs = now;
                m_stamp = timestamp(now).toUtf8();
            }
            append(m_text, m_stamp);
        }
        const qsizetype lineBreak = text.indexOf(u'\n', from);
        const qsizetype to = lineBreak < 0 ? text.size() : lineBreak + 1;
        appendUtf8(text.sliced(from, to - from));
        m_atLineStart = lineBreak >= 0;
        from = to;
    }
}

void SessionLog::appendUtf8(QStringView text)
{
    if (char *out = room(m_text, m_utf8.requiredSpace(text.size())))
        m_text.used = m_utf8.appendToBuffer(out, text) - m_text.buffer.constData();
}

void SessionLog::append(Sink &sink, QByteArrayView bytes)
{
    if (char *out = room(sink, bytes.size())) {
        std::memcpy(out, bytes.data(), size_t(bytes.size()));
        sink.used += bytes.size();
    }
}

char *SessionLog::room(Sink &sink, qsizetype count)
{
    if (sink.used + count > sink.buffer.size()) {
        writeOut(sink, true);
        if (count > sink.buffer.size())
            sink.buffer.resize(count);
    }
    return sink.on ? sink.buffer.data() + sink.used : nullptr;
}

void SessionLog::flush()
{
    flushAll(true);
}

void SessionLog::flushAll(bool announce)
{
    m_flushTimer.stop();
    writeOut(m_text, announce);
    writeOut(m_raw, announce);
}

void SessionLog::writeOut(Sink &sink, bool announce)
{
    if (!sink.on || sink.used == 0)
        return;
    // A short write is retried, so that a failure leaves the system's reason.
    qint64 written = 0;
    while (written < sink.used) {
        const qint64 n = sink.file.write(sink.buffer.constData() + written, sink.used - written);
        if (n <= 0)
            break;
        written += n;
    }
    const bool whole = written == sink.used;
    sink.used = 0;
    if (sink.buffer.size() > BufferBytes) { // grown for one long piece of text
        sink.buffer.resize(BufferBytes);
        sink.buffer.squeeze();
    }
    if (whole)
        return;
    // Disk full, device gone: this file is done with, the session goes on.
    const QString reason = sink.file.errorString();
    sink.on = false;
    sink.file.close();
    sink.buffer = QByteArray();
    if (announce)
        Q_EMIT writeFailed(sink.file.fileName(), reason);
}
