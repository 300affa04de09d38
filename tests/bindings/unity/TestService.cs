using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Text;
using System.Threading;

namespace Corvex.Tracking.Tests
{
    // The local test service program (corvex-test-service), read through its
    // output: an address line, then one JSON line per request.
    internal sealed class TestService : IDisposable
    {
        private readonly Process process;
        private readonly Thread reader;
        private readonly List<JsonValue> requests = new List<JsonValue>();

        internal readonly string ProxyUrl;
        internal readonly string CaFile;

        internal TestService(string program)
        {
            var start = new ProcessStartInfo(program)
            {
                UseShellExecute = false,
                RedirectStandardOutput = true,
                StandardOutputEncoding = new UTF8Encoding(false),
            };
            process = Process.Start(start);
            string address = process.StandardOutput.ReadLine();
            if (address == null)
            {
                throw new CheckFailed("the test service " + program + " did not start");
            }
            ProxyUrl = JsonValue.Parse(address)["proxyUrl"].Text;
            CaFile = JsonValue.Parse(address)["caFile"].Text;
            reader = new Thread(ReadRequests) { IsBackground = true };
            reader.Start();
        }

        // The requests made with these credentials, in arrival order.
        internal List<JsonValue> RequestsOf(string key, string secret)
        {
            string authorization = "Basic " + Convert.ToBase64String(Encoding.UTF8.GetBytes(key + ":" + secret));
            var mine = new List<JsonValue>();
            lock (requests)
            {
                foreach (JsonValue request in requests)
                {
                    foreach (JsonValue header in request["headers"].Items)
                    {
                        if (string.Equals(header.Items[0].Text, "Authorization", StringComparison.OrdinalIgnoreCase) &&
                            header.Items[1].Text == authorization)
                        {
                            mine.Add(request);
                        }
                    }
                }
            }
            return mine;
        }

        // The events of those requests' bodies.
        internal List<JsonValue> EventsOf(string key, string secret)
        {
            var events = new List<JsonValue>();
            foreach (JsonValue request in RequestsOf(key, secret))
            {
                events.AddRange(Body(request)["subMessages"].Items);
            }
            return events;
        }

        // Waits up to 60 s for that many events of those credentials.
        internal List<JsonValue> WaitForEvents(string key, string secret, int count)
        {
            Stopwatch clock = Stopwatch.StartNew();
            List<JsonValue> events = EventsOf(key, secret);
            while (events.Count < count && clock.Elapsed < TimeSpan.FromSeconds(60))
            {
                Thread.Sleep(20);
                events = EventsOf(key, secret);
            }
            return events;
        }

        internal static JsonValue Body(JsonValue request)
        {
            return JsonValue.Parse(request["body"].Text);
        }

        // SIGTERM, so that the service removes its temporary folder.
        public void Dispose()
        {
            if (!process.HasExited)
            {
                Process.Start("kill", "-TERM " + process.Id).WaitForExit();
            }
            if (!process.WaitForExit(10000))
            {
                process.Kill();
            }
            reader.Join(10000);
        }

        private void ReadRequests()
        {
            string line;
            while ((line = process.StandardOutput.ReadLine()) != null)
            {
                JsonValue request = JsonValue.Parse(line);
                lock (requests)
                {
                    requests.Add(request);
                }
            }
        }
    }
}
