#include "recorder/recorder_cycle.h"

#include "line/take_reading.h"

TRecorderReading TakeRecorderReading(const TRecorderLine& line, std::chrono::milliseconds deadline,
    const TReading* previous)
{
    TReadingRequest request;
    request.Host = line.Host;
    request.Port = line.Port;
    request.User = line.Username;
    request.Password = QString::fromUtf8(line.Password);
    request.Prompt = line.Prompt;
    request.Family = line.Router;
    request.ReadFigures = line.Figures;
    request.Deadline = std::chrono::steady_clock::now() + deadline;
    request.DeadlineSpan = deadline;
    request.Previous = previous;
    TTakenReading taken = TakeReading(request);
    TRecorderReading result;
    result.Reading = std::move(taken.Reading);
    result.Failure = taken.Complete() ? QString() : taken.FailureText();
    result.LoginRefused = result.Reading.Outcome == TReadingOutcome::LoginRefused;
    return result;
}
