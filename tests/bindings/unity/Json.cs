using System;
using System.Collections.Generic;
using System.Globalization;
using System.Text;

namespace Corvex.Tracking.Tests
{
    // A JSON value read from text. Each value keeps its text as it stood, so
    // that payloads can be compared with the library's text exactly.
    internal sealed class JsonValue
    {
        internal string Raw;
        // A string's content; null for other values.
        internal string Text;
        internal readonly List<KeyValuePair<string, JsonValue>> Members = new List<KeyValuePair<string, JsonValue>>();
        internal readonly List<JsonValue> Items = new List<JsonValue>();

        // The member of that name, or null.
        internal JsonValue this[string name]
        {
            get
            {
                foreach (KeyValuePair<string, JsonValue> member in Members)
                {
                    if (member.Key == name)
                    {
                        return member.Value;
                    }
                }
                return null;
            }
        }

        internal static JsonValue Parse(string text)
        {
            int at = 0;
            JsonValue value = Read(text, ref at);
            SkipSpace(text, ref at);
            if (at != text.Length)
            {
                throw new FormatException("text after the JSON value: " + text);
            }
            return value;
        }

        private static JsonValue Read(string text, ref int at)
        {
            SkipSpace(text, ref at);
            int start = at;
            var value = new JsonValue();
            char first = text[at];
            if (first == '{' || first == '[')
            {
                char end = first == '{' ? '}' : ']';
                ++at;
                SkipSpace(text, ref at);
                while (text[at] != end)
                {
                    if (first == '{')
                    {
                        string name = ReadString(text, ref at);
                        SkipSpace(text, ref at);
                        Expect(text, ref at, ':');
                        value.Members.Add(new KeyValuePair<string, JsonValue>(name, Read(text, ref at)));
                    }
                    else
                    {
                        value.Items.Add(Read(text, ref at));
                    }
                    SkipSpace(text, ref at);
                    if (text[at] == ',')
                    {
                        ++at;
                        SkipSpace(text, ref at);
                    }
                }
                ++at;
            }
            else if (first == '"')
            {
                value.Text = ReadString(text, ref at);
            }
            else
            {
                while (at < text.Length && "{}[],: \t\r\n".IndexOf(text[at]) < 0)
                {
                    ++at;
                }
            }
            value.Raw = text.Substring(start, at - start);
            return value;
        }

        private static string ReadString(string text, ref int at)
        {
            Expect(text, ref at, '"');
            var content = new StringBuilder();
            while (text[at] != '"')
            {
                char c = text[at++];
                if (c != '\\')
                {
                    content.Append(c);
                    continue;
                }
                char escape = text[at++];
                switch (escape)
                {
                    case 'b': content.Append('\b'); break;
                    case 'f': content.Append('\f'); break;
                    case 'n': content.Append('\n'); break;
                    case 'r': content.Append('\r'); break;
                    case 't': content.Append('\t'); break;
                    case 'u':
                        content.Append((char)int.Parse(text.Substring(at, 4), NumberStyles.HexNumber));
                        at += 4;
                        break;
                    default: content.Append(escape); break;
                }
            }
            ++at;
            return content.ToString();
        }

        private static void Expect(string text, ref int at, char wanted)
        {
            if (text[at] != wanted)
            {
                throw new FormatException("'" + wanted + "' expected at " + at + ": " + text);
            }
            ++at;
        }

        private static void SkipSpace(string text, ref int at)
        {
            while (at < text.Length && char.IsWhiteSpace(text[at]))
            {
                ++at;
            }
        }
    }
}
