#include "cli/DiagJson.h"

#include "channel/EventCodes.h"

#include <QJsonArray>

#include <cmath>
#include <cstdio>
#include <ctime>

namespace cli {

namespace {

QString Text(const std::wstring& text)
{
    return QString::fromStdWString(text);
}

// 64-bit counts go into a JSON number (a double): exact below 2^53, which a
// time in microseconds stays under for some 285 years.
QJsonValue Number(std::int64_t value)
{
    return QJsonValue(static_cast<double>(value));
}

QJsonObject EchoResult(const diag::EchoRecord& record)
{
    QJsonObject result;
    result["sequence"] = Number(record.Sequence);
    result["time"] = UtcTimeText(record.SentTimeMicroseconds);
    result["timeUs"] = Number(record.SentTimeMicroseconds);
    result["status"] = Number(record.Status);
    result["statusText"] = Text(diag::CPing::StatusText(record.Status));
    result["roundTripMs"] = Number(record.RoundTripTime);
    result["roundTripUs"] = Number(record.RoundTripMicroseconds);
    result["size"] = Number(record.Size);
    result["ttl"] = Number(record.Ttl);
    result["text"] = Text(diag::CPing::FormatEchoLine(record, false));
    return result;
}

QJsonObject Hop(const diag::HopRecord& hop)
{
    QJsonObject h;
    h["step"] = hop.Step;
    // A step where nobody answered has no address (the panes show 0.0.0.0).
    h["address"] = hop.Address != 0 ? QJsonValue(QString::fromStdString(
                                          channel::AddressText(hop.Address)))
                                    : QJsonValue(QJsonValue::Null);
    // "-": looked up, no name; empty: not looked up (no answer yet, or --no-dns).
    h["name"] = hop.Name.empty() || hop.Name == L"-" ? QJsonValue(QJsonValue::Null)
                                                     : QJsonValue(Text(hop.Name));
    h["lastMs"] = Number(hop.Last);
    h["lastUs"] = Number(hop.LastMicroseconds);
    h["averageMs"] = Number(hop.Average);
    h["maximumMs"] = Number(hop.Maximum);
    h["minimumMs"] = Number(hop.Minimum);
    h["sent"] = hop.Sent;
    h["lost"] = hop.Lost;
    h["lostPercent"] = hop.Sent > 0 ? static_cast<int>(std::ceil(static_cast<double>(hop.Lost) *
                                                                 100.0 / hop.Sent))
                                    : 0;
    h["status"] = Number(hop.Status);
    h["statusText"] = Text(diag::CPing::StatusText(hop.Status));
    h["time"] = UtcTimeText(hop.SentTimeMicroseconds);
    h["timeUs"] = Number(hop.SentTimeMicroseconds);
    return h;
}

} // namespace

QString UtcTimeText(std::int64_t microseconds)
{
    const std::time_t seconds = static_cast<std::time_t>(
        microseconds >= 0 ? microseconds / 1000000 : (microseconds - 999999) / 1000000);
    const auto fraction = static_cast<long>(microseconds - static_cast<std::int64_t>(seconds) *
                                                               1000000);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06ldZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, fraction);
    return QString::fromLatin1(text);
}

QJsonObject PingDocument(diag::CPing& ping, const std::vector<std::string>& targets,
                         const diag::EchoSettings& settings, long count, bool allAnswered)
{
    QJsonObject used;
    used["size"] = settings.Size;
    used["ttl"] = settings.Ttl;
    used["interval"] = Number(settings.Interval);
    used["timeout"] = Number(settings.TimeOut);
    used["source"] = settings.Source.empty() ? QJsonValue(QJsonValue::Null)
                                             : QJsonValue(QString::fromStdString(settings.Source));
    used["count"] = count > 0 ? QJsonValue(Number(count)) : QJsonValue(QJsonValue::Null);
    used["recordLimit"] = Number(settings.RecordLimit);

    QJsonArray targetList;
    for (int i = 0; i < static_cast<int>(targets.size()); ++i) {
        const diag::EchoStatistics s = ping.GetStatistics(i);
        QJsonObject statistics;
        statistics["sent"] = Number(s.Sent);
        statistics["received"] = Number(s.Received);
        statistics["lost"] = Number(s.Lost);
        statistics["averageMs"] = Number(s.Average);
        statistics["minimumMs"] = Number(s.Minimum);
        statistics["maximumMs"] = Number(s.Maximum);
        QJsonArray results;
        const int stored = ping.GetRecordCount(i);
        for (int n = 0; n < stored; ++n)
            if (const diag::EchoRecord* record = ping.GetRecordInOrder(i, n))
                results.append(EchoResult(*record));
        QJsonObject target;
        target["address"] = QString::fromStdString(targets[static_cast<std::size_t>(i)]);
        target["statistics"] = statistics;
        target["results"] = results;
        // The oldest results beyond the record limit are not kept.
        target["resultsDropped"] = Number(static_cast<std::int64_t>(s.Sent) - stored);
        targetList.append(target);
    }
    QJsonObject document;
    document["command"] = QStringLiteral("ping");
    document["settings"] = used;
    document["targets"] = targetList;
    document["allAnswered"] = allAnswered;
    return document;
}

QJsonObject TraceDocument(diag::CTraceRoute& trace, const std::vector<std::string>& targets,
                          const diag::RouteSettings& settings, long passes, bool allBuilt)
{
    QJsonObject used;
    used["steps"] = settings.Steps;
    used["timeout"] = Number(settings.TimeOut);
    used["interval"] = Number(settings.Interval);
    used["size"] = settings.Size;
    used["resolveNames"] = settings.ResolveNames;
    used["passes"] = passes > 0 ? QJsonValue(Number(passes)) : QJsonValue(QJsonValue::Null);

    QJsonArray targetList;
    for (int i = 0; i < static_cast<int>(targets.size()); ++i) {
        QJsonArray hops;
        for (int n = 0; n < trace.GetRecordCount(i); ++n)
            if (const diag::HopRecord* hop = trace.GetRecord(i, n))
                hops.append(Hop(*hop));
        const diag::RouteState state = trace.GetRouteState(i);
        QJsonObject target;
        target["address"] = QString::fromStdString(targets[static_cast<std::size_t>(i)]);
        target["state"] = state.State;
        target["stateText"] = Text(diag::RouteStateText(state.State));
        target["hops"] = hops;
        targetList.append(target);
    }
    QJsonObject document;
    document["command"] = QStringLiteral("trace");
    document["settings"] = used;
    document["targets"] = targetList;
    document["allBuilt"] = allBuilt;
    return document;
}

} // namespace cli
