-- Request target and headers from the environment, so one script serves every run:
--   VELM_TARGET       request target: an absolute URI for the proxy, a path for a web server
--   VELM_PROXY_HEADER "1" adds "Proxy-Connection: keep-alive", as browsers send to a proxy
-- At the end one line "RESULT {...}" with the figures bench/run reads.
local target = os.getenv("VELM_TARGET")
if target and target ~= "" then
  wrk.path = target
end
if os.getenv("VELM_PROXY_HEADER") == "1" then
  wrk.headers["Proxy-Connection"] = "keep-alive"
end

done = function(summary, latency, requests)
  local e = summary.errors
  io.write(string.format(
    'RESULT {"requests": %d, "bytes": %d, "duration_us": %d, "connect_errors": %d, ' ..
    '"read_errors": %d, "write_errors": %d, "status_errors": %d, "timeouts": %d, ' ..
    '"lat_p50_us": %d, "lat_p90_us": %d, "lat_p99_us": %d, "lat_max_us": %d}\n',
    summary.requests, summary.bytes, summary.duration, e.connect, e.read, e.write, e.status,
    e.timeout, latency:percentile(50), latency:percentile(90), latency:percentile(99),
    latency.max))
end
