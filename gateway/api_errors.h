// The refusals of the HTTP API: a stable code a program can test, and the same in
// Russian and in English for the person reading the log. Every refusal is written
// as {"error": {"code", "message", "message_en", "detail"}}.
#pragma once

#include <string_view>

namespace velka::gateway {

enum class ApiError {
    MalformedJson,
    BodyTooLarge,
    NoRecipients,
    BadNumber,
    UnknownGroup,
    EmptyText,
    TextTooLong,
    BadVia,
    BadId,
    BadQuery,
    NotFound,
    BeingSent,
    Unauthorized,
    TooManyRequests,
    NotQueued,
};

struct ApiErrorText {
    ApiError error;
    int status;  // the HTTP status it goes with
    std::string_view code;
    std::string_view russian;  // UTF-8
    std::string_view english;
};

// One row per ApiError, in its order.
inline constexpr ApiErrorText kApiErrors[] = {
    {ApiError::MalformedJson, 400, "malformed_json", "Тело запроса — не JSON-объект нужного вида",
     "The body is not a JSON object of the expected form"},
    {ApiError::BodyTooLarge, 400, "body_too_large", "Тело запроса слишком велико",
     "The body is too large"},
    {ApiError::NoRecipients, 400, "no_recipients", "Не указан ни один получатель",
     "No recipient is given"},
    {ApiError::BadNumber, 400, "bad_number", "Номер получателя неверен",
     "A recipient's number is not valid"},
    {ApiError::UnknownGroup, 400, "unknown_group", "Такой группы контактов нет или она пуста",
     "No such contact group, or it is empty"},
    {ApiError::EmptyText, 400, "empty_text", "Текст сообщения пуст", "The text is empty"},
    {ApiError::TextTooLong, 400, "text_too_long", "Текст длиннее 1024 знаков",
     "The text is longer than 1024 characters"},
    {ApiError::BadVia, 400, "bad_via", "Модем указан неверно (IMEI, порт или SIM)",
     "The modem is not named right (IMEI, port or SIM)"},
    {ApiError::BadId, 400, "bad_id", "Неверный номер сообщения", "The message id is not valid"},
    {ApiError::BadQuery, 400, "bad_query", "Неверный параметр запроса",
     "A query parameter is not valid"},
    {ApiError::NotFound, 404, "not_found", "Не найдено", "Not found"},
    {ApiError::BeingSent, 409, "being_sent", "Сообщение отправляется сейчас; удалить его нельзя",
     "The message is being sent now and cannot be removed"},
    {ApiError::Unauthorized, 401, "unauthorized",
     "Нужен верный ключ доступа (Authorization: Bearer)",
     "A valid token is required (Authorization: Bearer)"},
    {ApiError::TooManyRequests, 429, "too_many_requests", "Слишком много запросов; повторите позже",
     "Too many requests; try again later"},
    {ApiError::NotQueued, 503, "not_queued", "Очередь не приняла сообщения; ничего не поставлено",
     "The queue refused the messages; nothing was queued"},
};

constexpr const ApiErrorText& TextOf(ApiError error) {
    return kApiErrors[static_cast<int>(error)];
}

}  // namespace velka::gateway
