<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>HistoryList</name>
    <message numerus="yes">
        <source>%n recording(s)</source>
        <translation>
            <numerusform>%n recording</numerusform>
            <numerusform>%n recordings</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>HistoryRow</name>
    <message numerus="yes">
        <source>%n word(s)</source>
        <translation>
            <numerusform>%n word</numerusform>
            <numerusform>%n words</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>StatsCarousel</name>
    <message numerus="yes">
        <source>word(s)</source>
        <translation>
            <numerusform>word</numerusform>
            <numerusform>words</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>StatsPhrases</name>
    <message numerus="yes">
        <source>You&apos;ve written %n complete book(s)</source>
        <translation>
            <numerusform>You&apos;ve written %n complete book</numerusform>
            <numerusform>You&apos;ve written %n complete books</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>day(s)</source>
        <translation>
            <numerusform>day</numerusform>
            <numerusform>days</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>week(s)</source>
        <translation>
            <numerusform>week</numerusform>
            <numerusform>weeks</numerusform>
        </translation>
    </message>
</context>
</TS>
