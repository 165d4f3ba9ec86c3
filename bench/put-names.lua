-- wrk script: durable name writes through the API, each a real change.
-- Every request writes the next entry of name set 7 of the names
-- infodriver (device 12) with a text no earlier request of this thread
-- wrote there, so the host commits each one to its data file.
-- The engineer token comes from the environment (PANELHOST_TOKEN).
local token = os.getenv("PANELHOST_TOKEN")
local entries = 128
local counter = 0
local thread_tag = tostring(math.random(1000, 9999))

request = function()
    counter = counter + 1
    local index = (counter % entries) + 1
    local body = string.format('{"text":"W%s %d"}', thread_tag, counter % 100000)
    return wrk.format("PUT", "/api/devices/12/databases/7/" .. index, {
        ["Authorization"] = "Bearer " .. token,
        ["Content-Type"] = "application/json",
    }, body)
end
