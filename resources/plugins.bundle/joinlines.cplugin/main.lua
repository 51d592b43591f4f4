-- 英文之间用一个空格连接；中文等非 ASCII 文字直接相连，不加空格。
local function trim(s)
  return (s:gsub("^%s+", ""):gsub("%s+$", ""))
end

local function ascii(byte)
  return byte ~= nil and byte < 128
end

function main(text)
  text = text:gsub("\r\n", "\n"):gsub("\r", "\n")
  local out = {}
  local last = nil
  for line in (text .. "\n"):gmatch("([^\n]*)\n") do
    line = trim(line)
    if line ~= "" then
      if last ~= nil and ascii(last:byte(-1)) and ascii(line:byte(1)) then
        out[#out + 1] = " "
      end
      out[#out + 1] = line
      last = line
    end
  end
  return table.concat(out)
end
