#include "compose/text_price.h"

#include <gtest/gtest.h>

#include <string>

#include "compose/compose.h"
#include "platform/codepage.h"
#include "sms/text_plan.h"

namespace velka::compose {
namespace {

std::string W(std::string_view utf8) {
    return codepage::FromUtf8(utf8);
}
std::string U(std::string_view cp1251) {
    return codepage::ToUtf8(cp1251);
}

// The signature's 38 characters go first: 122 Latin characters fill the message.
TEST(TextPriceTest, CountsTheMessagesAndTheRoomTheSendPathUses) {
    const std::size_t first_room = kGsm7Limit - kSignature.size();
    EXPECT_EQ(PriceOf("").room_left, first_room);
    for (const std::size_t length : {1u, 121u, 122u, 123u, 400u, 1024u}) {
        const std::string text(length, 'a');
        const TextPrice price = PriceOf(text);
        EXPECT_EQ(price.messages, MessageCount(text)) << length;
        EXPECT_FALSE(price.ucs2);
        const std::size_t in_last = price.messages == 1
                                        ? kSignature.size() + length
                                        : (kSignature.size() + length - 1) % 153 + 1;
        EXPECT_EQ(price.room_left, (price.messages == 1 ? 160u : 153u) - in_last) << length;
    }
    // An extension character takes two septets of the room.
    EXPECT_EQ(PriceOf(W("€")).room_left, first_room - 2);

    const TextPrice russian = PriceOf(W("ж"));
    EXPECT_TRUE(russian.ucs2);
    EXPECT_EQ(russian.room_left, kUcs2Limit - kSignature.size() - 1);
    EXPECT_EQ(U(PriceLine(russian)), "UCS2, ещё 31");
    EXPECT_EQ(U(PriceLine(PriceOf("a"))), "7 бит, ещё 121");
    EXPECT_EQ(U(SignatureLine()), "Подпись: Velka SMS · https://velka-sms.example");
}

TEST(TextPriceTest, LookAlikesMakeATypographicLatinText7Bit) {
    const std::string typed = W("He said «hi» — ok №5… “quoted” ‘x’ 5\u00A0kg © €");
    EXPECT_TRUE(PriceOf(typed).ucs2);
    for (const char16_t character : std::u16string_view(u"«»—№…“”‘’\u00A0©\U0001F600Ж"))
        EXPECT_TRUE(ForcesUcs2(character));
    for (const char16_t character : std::u16string_view(u"aZ09@$_\r\n€üÉ"))
        EXPECT_FALSE(ForcesUcs2(character));

    const std::string replaced = WithLookAlikes(typed);
    EXPECT_EQ(U(replaced), "He said \"hi\" - ok No5... \"quoted\" 'x' 5 kg (c) €")
        << "the euro sign is in the alphabet's extension table and stays";
    EXPECT_FALSE(PriceOf(replaced).ucs2);
    EXPECT_EQ(WithLookAlikes(W("Привет")), W("Привет")) << "letters are no look-alikes";
}

// ICAO Doc 9303, as Russian passports write names.
TEST(TextPriceTest, TransliterationFollowsThePassportTableAndHalvesTheShortRussianPrice) {
    EXPECT_EQ(Transliterated(W("Щукин Юрий Ёлкин, объезд, подъём")),
              "Shchukin Iurii Elkin, obieezd, podieem");
    EXPECT_EQ(Transliterated(W("ЖУК Жук ЩИ Ща Цой чай ХОР хор ЭХ ЯЗЫК")),
              "ZHUK Zhuk SHCHI Shcha Tsoi chai KHOR khor EKH IAZYK");
    EXPECT_EQ(Transliterated(W("Мальчик пьёт")), "Malchik pet");
    EXPECT_EQ(Transliterated(W("Київ, Ґанок, Єва, Ўлад, Љиљана")),
              "Kiiv, Ganok, Ieva, Ulad, Ljiljana");
    EXPECT_EQ(Transliterated(W("«Встреча» — в 12:00")), "\"Vstrecha\" - v 12:00");

    // A short Russian text: two messages as UCS2, one in Latin letters.
    const std::string text =
        W("Привет! Встречаемся в субботу в 12:00 у входа в парк. Не опаздывай.");
    EXPECT_EQ(PriceOf(text).messages, 2u);
    const TextPrice latin = PriceOf(Transliterated(text));
    EXPECT_FALSE(latin.ucs2);
    EXPECT_EQ(latin.messages, 1u);
}

}  // namespace
}  // namespace velka::compose
